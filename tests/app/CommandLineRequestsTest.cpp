// The switches that answer a request instead of starting a run: --help and
// its short forms, --version, --list-ports; and the port list's lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ports/PortListing.h"
#include "errors/Version.h"
#include "tests/support/Harness.h"

namespace {

harness::ProcessResult RunWith(const std::vector<std::string>& args) {
    return harness::RunVantoir(args, 20000);
}

TEST(CommandLineInformation, HelpVersionAndPortListSwitchesAnswerAndEndTheRun) {
    struct Case {
        std::vector<std::string> args;
        std::string out;  // kPortList: a port list or nothing
        std::string err;
        int status;
    };
    const std::string kPortList = "(port list)";
    // The usage text as the program prints it without arguments.
    const std::string usage = RunWith({}).out;
    ASSERT_NE(usage.find("Usage: "), std::string::npos) << usage;
    const std::string versionLine = std::string("Vantoir ") + version::kVersion + "\n";
    const Case cases[] = {
        {{"--help"}, usage, "", 0},
        {{"-h"}, usage, "", 0},
        {{"-?"}, usage, "", 0},
        {{"--HELP"}, usage, "", 0},
        // The usage shows the defaults, not what came before; later
        // arguments are not looked at.
        {{"-P", "COM7", "-b", "9600", "-H", "/bad"}, usage, "", 0},
        {{"--version"}, versionLine, "", 0},
        {{"-D", "--Version", "-Z"}, versionLine, "", 0},
        {{"--list-ports"}, kPortList, "", 0},
        {{"--help=all"}, "", "Unknown commandline switch: --help=all\n", 1},
        {{"-help"}, "", "Unknown commandline switch: -help\n", 1},
        {{"-h?"}, "", "Unknown commandline switch: -h?\n", 1},
        {{"--vers"}, "", "Unknown commandline switch: --vers\n", 1},
        {{"--list-port"}, "", "Unknown commandline switch: --list-port\n", 1},
        {{"/?"}, "", "Unknown commandline switch: /?\n", 1},
        {{"-Z", "--help"}, "", "Unknown commandline switch: -Z\n", 1},
    };
    for (const Case& c : cases) {
        harness::ProcessResult result = RunWith(c.args);
        EXPECT_EQ(result.exitStatus, c.status) << harness::Describe(result);
        if (c.out != kPortList) {
            EXPECT_EQ(result.out, c.out) << harness::Describe(result);
            EXPECT_EQ(result.err, c.err) << harness::Describe(result);
            continue;
        }
        // This machine's ports are not the test's to know: each line names
        // a device, and an empty list is said on standard error.
        if (result.out.empty()) {
            EXPECT_EQ(result.err, "No serial ports found.\n");
        }
        for (size_t start = 0; start < result.out.size();
             start = result.out.find('\n', start) + 1) {
            const std::string device = harness::RunsWindowsBuild() ? "COM" : "/dev/";
            EXPECT_EQ(result.out.compare(start, device.size(), device), 0) << result.out;
        }
    }
}

TEST(CommandLineInformation, PortLinesGiveTheNameFirstThenWhatIsKnown) {
    PortInfo usb;
    usb.path = "/dev/ttyUSB0";
    usb.driver = "ftdi_sio";
    usb.vendorId = "0403";
    usb.productId = "6001";
    usb.manufacturer = "FTDI";
    usb.product = "FT232R USB UART";
    usb.serialNumber = "A50285BI";
    usb.byIdPath = "/dev/serial/by-id/usb-FTDI-if00-port0";
    EXPECT_EQ(FormatPortLine(usb),
              "/dev/ttyUSB0  driver=ftdi_sio usb=0403:6001 manufacturer=\"FTDI\" "
              "product=\"FT232R USB UART\" serial=\"A50285BI\" "
              "by-id=/dev/serial/by-id/usb-FTDI-if00-port0");
    PortInfo windows;
    windows.path = "COM3";
    windows.device = "\\Device\\Serial0";
    EXPECT_EQ(FormatPortLine(windows), "COM3  device=\\Device\\Serial0");
    PortInfo bare;
    bare.path = "/dev/cu.usbserial-A1";
    EXPECT_EQ(FormatPortLine(bare), "/dev/cu.usbserial-A1");
}

}  // namespace
