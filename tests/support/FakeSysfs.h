#pragma once
// Fake sysfs trees, laid out as the Linux kernel lays them out, under a fresh
// temporary root: for the port list read with ListSerialPorts(root), and for
// the real program pointed at the tree through VANTOIR_TEST_PORT_LIST_ROOT.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace harness {

// A directory tree under a fresh temporary root, removed at the end.
class FakeTree {
  public:
    FakeTree() {
        char pattern[] = "/tmp/vantoir-sysfs-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~FakeTree() { std::filesystem::remove_all(root); }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    const std::filesystem::path& Root() const { return root; }

    void File(const std::string& path, const std::string& content) {
        std::filesystem::create_directories((root / path).parent_path());
        std::ofstream(root / path) << content << "\n";
    }
    // A relative symbolic link, as sysfs has them; the target need not exist.
    void Link(const std::string& path, const std::string& target) {
        std::filesystem::create_directories((root / path).parent_path());
        std::filesystem::create_symlink(std::filesystem::path(target).lexically_relative(
                                            std::filesystem::path(path).parent_path()),
                                        root / path);
    }
    // A link to a path outside the tree (a pseudo-terminal for dev/ttyUSB0).
    void AbsoluteLink(const std::string& path, const std::string& target) {
        std::filesystem::create_directories((root / path).parent_path());
        std::filesystem::create_symlink(target, root / path);
    }
    // A tty of the class directory, living under device/tty/name.
    void Tty(const std::string& name, const std::string& device, const std::string& type = "") {
        const std::string home = device + "/tty/" + name;
        std::filesystem::create_directories(root / home);
        Link(home + "/device", device);
        Link("sys/class/tty/" + name, home);
        if (!type.empty()) {
            File(home + "/type", type);
        }
    }
    void Driver(const std::string& device, const std::string& bus, const std::string& driver) {
        const std::string home = "sys/bus/" + bus + "/drivers/" + driver;
        std::filesystem::create_directories(root / home);
        Link(device + "/driver", home);
    }

    // A usb-serial adapter on USB port number usbPort with one tty, as the
    // ftdi_sio driver lays it out: the USB device's attributes (an empty
    // value leaves its file out), the interface, the port, the tty.
    void UsbSerialAdapter(int usbPort, const std::string& ttyName,
                          const std::vector<std::pair<std::string, std::string>>& attributes) {
        const std::string device =
            "sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(usbPort);
        for (const auto& [name, value] : attributes) {
            if (!value.empty()) {
                File(device + "/" + name, value);
            }
        }
        const std::string interface = device + "/1-" + std::to_string(usbPort) + ":1.0";
        Driver(interface, "usb", "ftdi_sio");
        Driver(interface + "/" + ttyName, "usb-serial", "ftdi_sio");
        Tty(ttyName, interface + "/" + ttyName);
    }

  private:
    std::filesystem::path root;
};

}  // namespace harness
