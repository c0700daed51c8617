// The real program choosing its port by the USB identity of the adapter, with
// the port list read from a fake sysfs tree (VANTOIR_TEST_PORT_LIST_ROOT):
// a complete download through the chosen port, the two-line refusals, and
// the port list's lines for such a tree.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/Harness.h"

namespace {

using namespace download_test;

// vantoir with args, reading its port list from tree.
harness::ProcessResult RunOverTree(const harness::FakeTree& tree,
                                   const std::vector<std::string>& args) {
    harness::ProcessOptions options;
    options.binary = "env";
    options.args = {"VANTOIR_TEST_PORT_LIST_ROOT=" + tree.Root().string(),
                    harness::VantoirBinary()};
    options.args.insert(options.args.end(), args.begin(), args.end());
    return harness::Run(options, kRunGuardMs);
}

void AddAdapter(harness::FakeTree& tree, int usbPort, const std::string& tty,
                const std::string& serial, const std::string& manufacturer = "FTDI") {
    tree.UsbSerialAdapter(usbPort, tty,
                          {{"idVendor", "0403"},
                           {"idProduct", "6001"},
                           {"manufacturer", manufacturer},
                           {"serial", serial}});
}

TEST(UsbPortByIdentity, ADownloadGoesThroughTheOnePortOfThatAdapter) {
    SKIP_UNDER_WINE("the Windows build lists the ports of the registry");
    auto board = harness::StartBoard();
    harness::FakeTree tree;
    AddAdapter(tree, 2, "ttyUSB0", "A50285BI");
    tree.UsbSerialAdapter(3, "ttyUSB1", {{"idVendor", "10c4"}, {"idProduct", "ea60"}});
    tree.AbsoluteLink("dev/ttyUSB0", board->SlavePath());
    const std::string content = harness::SampleHex(5);
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result =
        RunOverTree(tree, {"-P", "usb:0403:6001", "-F", dataFile});

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, EchoLine({"-P", "usb:0403:6001", "-F", dataFile}) + kPrompt +
                              Established("KELVOR DSP boot loader 2.4") +
                              "Start uploading file...\n" + UploadProgress(content) +
                              "File uploaded OK\nStart command sent to DSP\n");
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectSessionOnWire(board->Received(), OnWire(content), "S\r\n");
}

TEST(UsbPortByIdentity, TheRecordOfTheRunNamesTheChosenDeviceAndItsAdapter) {
    SKIP_UNDER_WINE("the Windows build lists the ports of the registry");
    auto board = harness::StartBoard();
    harness::FakeTree tree;
    AddAdapter(tree, 2, "ttyUSB0", "A50285BI");
    tree.AbsoluteLink("dev/ttyUSB0", board->SlavePath());
    const std::string report = harness::WriteTempFile("", "usb-report.jsonl");

    const harness::ProcessResult result =
        RunOverTree(tree, {"-P", "usb:0403:6001", "-F",
                           harness::WriteTempFile(harness::SampleHex(2)), "--report", report});

    ASSERT_EQ(result.exitStatus, 0) << harness::Describe(result);
    const report_test::Json record = report_test::OnlyRecord(report);
    EXPECT_EQ(record["port"], "usb:0403:6001");
    EXPECT_EQ(record["device"], (tree.Root() / "dev/ttyUSB0").string());
    EXPECT_EQ(record["usb"]["id"], "0403:6001");
    EXPECT_EQ(record["usb"]["serial"], "A50285BI");
}

TEST(UsbPortByIdentity, NoneOrSeveralMatchingEndTheRunWithTwoLinesBeforeTheDataFile) {
    SKIP_UNDER_WINE("the Windows build lists the ports of the registry");
    harness::FakeTree tree;
    AddAdapter(tree, 2, "ttyUSB0", "A50285BI");
    AddAdapter(tree, 3, "ttyUSB1", "FT9XKQ2C");
    const std::string root = tree.Root().string();
    const std::string missing = harness::WriteTempFile("", "x") + ".missing";
    struct Case {
        std::string name;
        std::string detail;
    };
    const Case cases[] = {
        {"usb:0403:6015", "No serial port matches usb:0403:6015."},
        {"usb:0403:6001", "2 serial ports match usb:0403:6001: " + root + "/dev/ttyUSB0 " + root +
                              "/dev/ttyUSB1 (add the serial number)."},
        {"usb:0403:6001:FT9XKQ2D", "No serial port matches usb:0403:6001:FT9XKQ2D."},
        {"usb:0403:601",
         "Not a USB port name: usb:0403:601 (give usb:VID:PID or "
         "usb:VID:PID:SERIAL, VID and PID four hex digits each)."},
    };
    for (const Case& c : cases) {
        const harness::ProcessResult result = RunOverTree(tree, {"-P", c.name, "-F", missing});
        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        EXPECT_EQ(result.out, EchoLine({"-P", c.name, "-F", missing}));
        EXPECT_EQ(result.err, "Error occurred: COMPort: failed to open.\n" + c.detail + "\n");
    }
    // With the serial number the port is found (and opened: the tree has no
    // device behind it).
    const harness::ProcessResult narrowed =
        RunOverTree(tree, {"-P", "usb:0403:6001:FT9XKQ2C", "-F", missing});
    EXPECT_EQ(narrowed.err, "Error occurred: COMPort: failed to open.\n");
}

TEST(UsbPortByIdentity, ThePortListOffersTheNameAndEscapesQuotesInTexts) {
    SKIP_UNDER_WINE("the Windows build lists the ports of the registry");
    harness::FakeTree tree;
    AddAdapter(tree, 2, "ttyUSB0", "A50285BI", "Arduino \"LLC\"");
    AddAdapter(tree, 3, "ttyUSB1", "", "C:\\Vendor");
    const std::string root = tree.Root().string();

    const harness::ProcessResult result = RunOverTree(tree, {"--list-ports"});

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, root +
                              "/dev/ttyUSB0  driver=ftdi_sio usb=0403:6001 "
                              "manufacturer=\"Arduino \\\"LLC\\\"\" serial=\"A50285BI\" "
                              "select=usb:0403:6001:A50285BI\n" +
                              root +
                              "/dev/ttyUSB1  driver=ftdi_sio usb=0403:6001 "
                              "manufacturer=\"C:\\\\Vendor\"\n");
    EXPECT_EQ(result.err, "");
}

}  // namespace
