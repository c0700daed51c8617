#include "sim/AcmGadget.h"

#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim/Board.h"

namespace sim {

namespace {

// The gadget's identity: the kernel's own id for a composite gadget.
constexpr uint16_t kVendorId = 0x1d6b;
constexpr uint16_t kProductId = 0x0104;
// The host's CDC-ACM driver believes a device without an ACM functional
// descriptor cannot send a break; the entry of its table that says "break
// works although not declared" lends its driver data to ours (new_id).
constexpr const char* kBreakCapableEntry = "1a86 55d3";
constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr const char* kAcmDriver = "/sys/bus/usb/drivers/cdc_acm";

// CDC-ACM class requests and the serial state notification.
constexpr uint8_t kSetLineCoding = 0x20;
constexpr uint8_t kGetLineCoding = 0x21;
constexpr uint8_t kSetControlLineState = 0x22;
constexpr uint8_t kSendBreak = 0x23;
constexpr uint8_t kSerialState = 0x20;
constexpr uint16_t kStateDcd = 0x01;
constexpr uint16_t kStateDsr = 0x02;
constexpr uint16_t kStateRi = 0x08;

// One bulk packet at high speed: the host's driver ends no transfer with a
// zero-length packet, so a read never asks for more than one packet; a write
// stays below one, so that each ends the host's transfer.
constexpr size_t kPacket = 512;
// The longest a change of the board's power waits for the board to take what
// the host sent before it (a board paced at a low rate may take longer; then
// the rest arrives after the change, as on a line still busy).
constexpr int kSettleMs = 2000;

[[noreturn]] void Fail(const std::string& step) {
    throw std::runtime_error("USB CDC-ACM gadget: " + step + ": " + std::strerror(errno));
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// Writes text to a configfs or sysfs attribute in one write.
bool Store(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return whole;
}

void StoreOrFail(const std::string& path, const std::string& text) {
    if (!Store(path, text)) {
        Fail("writing " + path);
    }
}

void MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        Fail("making " + path);
    }
}

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void Put16(std::string& bytes, uint16_t value) {
    bytes += static_cast<char>(value & 0xff);
    bytes += static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, uint32_t value) {
    Put16(bytes, static_cast<uint16_t>(value & 0xffff));
    Put16(bytes, static_cast<uint16_t>(value >> 16));
}

// The descriptors of one speed: ONE interface of class 2/2/1 (the host's
// driver takes it as a collapsed CDC-ACM interface), an interface association
// right after it (FunctionFS refuses the class-specific CDC descriptors, and
// the driver needs one extra descriptor there), then the notification
// endpoint and the two bulk endpoints (files ep1, ep2, ep3 in this order).
std::string SpeedDescriptors(bool high) {
    std::string bytes;
    auto add = [&bytes](std::initializer_list<uint8_t> values) {
        for (uint8_t value : values) {
            bytes += static_cast<char>(value);
        }
    };
    add({USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 3, USB_CLASS_COMM, 2, 1, 1});
    add({sizeof(usb_interface_assoc_descriptor), USB_DT_INTERFACE_ASSOCIATION, 0, 1, USB_CLASS_COMM,
         2, 1, 0});
    auto endpoint = [&](uint8_t address, uint8_t kind, uint16_t size, uint8_t interval) {
        add({USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, kind});
        Put16(bytes, size);
        add({interval});
    };
    endpoint(1 | USB_DIR_IN, USB_ENDPOINT_XFER_INT, 16, high ? 8 : 16);
    endpoint(2 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, high ? 512 : 64, 0);
    endpoint(3 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, high ? 512 : 64, 0);
    return bytes;
}

std::string Descriptors() {
    constexpr uint32_t kCount = 5;
    const std::string full = SpeedDescriptors(false);
    const std::string high = SpeedDescriptors(true);
    std::string bytes;
    Put32(bytes, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Put32(bytes, static_cast<uint32_t>(20 + full.size() + high.size()));
    Put32(bytes, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Put32(bytes, kCount);
    Put32(bytes, kCount);
    return bytes + full + high;
}

std::string Strings() {
    const std::string interfaceName("KELVOR serial", 14);  // with its NUL
    std::string bytes;
    Put32(bytes, FUNCTIONFS_STRINGS_MAGIC);
    Put32(bytes, static_cast<uint32_t>(16 + 2 + interfaceName.size()));
    Put32(bytes, 1);  // strings
    Put32(bytes, 1);  // languages
    Put16(bytes, 0x0409);
    return bytes + interfaceName;
}

uint16_t StateBit(AcmLine line) {
    switch (line) {
        case AcmLine::Dsr:
            return kStateDsr;
        case AcmLine::Dcd:
            return kStateDcd;
        case AcmLine::Ri:
            return kStateRi;
        default:
            return 0;
    }
}

// Waits, in a thread of the gadget, until fd is readable or wake is;
// true for fd.
bool WaitReadable(int fd, int wake) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    while (poll(fds, 2, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return (fds[1].revents & POLLIN) == 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

}  // namespace

AcmLine AcmLineNamed(const std::string& name) {
    static const std::pair<const char*, AcmLine> kNames[] = {{"dtr", AcmLine::Dtr},
                                                             {"rts", AcmLine::Rts},
                                                             {"dsr", AcmLine::Dsr},
                                                             {"dcd", AcmLine::Dcd},
                                                             {"ri", AcmLine::Ri}};
    for (const auto& entry : kNames) {
        if (name == entry.first) {
            return entry.second;
        }
    }
    return AcmLine::None;
}

struct AcmGadget::State {
    State(Board& owner, const AcmGadgetConfig& gadgetConfig)
        : board(owner), config(gadgetConfig), root(std::string(kGadgets) + "/" + config.name) {}

    Board& board;
    AcmGadgetConfig config;
    const std::string root;  // the gadget's folder in configfs
    std::string mountDir;    // where FunctionFS is mounted
    Clock::time_point start = Clock::now();
    int ep0 = -1;
    int epNotify = -1;
    int epIn = -1;
    int epOut = -1;
    int slave = -1;  // the board's pseudo-terminal, the host's end of it
    int wakeRead = -1;
    int wakeWrite = -1;
    int logFd = -1;
    bool bound = false;
    std::vector<std::thread> threads;

    std::mutex lock;
    std::condition_variable changed;
    bool stopping = false;
    bool enabled = false;
    // Counts the host's enables of the function: I/O that failed waits for
    // the next one.
    uint64_t generation = 0;
    // What SERIAL_STATE last said and is to say.
    uint16_t inputs = 0;
    uint64_t inputsVersion = 0;
    int outputs = 0;  // DTR bit 0, RTS bit 1, as the host last set them
    bool powered = true;
    // Bytes taken from the host so far (CarryToBoard's own count).
    std::atomic<int64_t> fromHost{0};
    uint8_t coding[7] = {0x80, 0x25, 0, 0, 0, 0, 8};  // 9600 8N1

    void Log(Clock::time_point at, const std::string& what) {
        if (logFd < 0) {
            return;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count();
        const std::string line = std::to_string(ms) + " " + what + "\n";
        ssize_t ignored = write(logFd, line.data(), line.size());
        (void)ignored;
    }

    void Make();
    void TakeDown();
    void Bind();
    void Unbind();
    void BorrowBreakCapability() const;
    void Spawn(void (State::*body)());

    void ServeControl();
    void HandleSetup(const usb_ctrlrequest& request, Clock::time_point at);
    void SetOutputs(int lines, Clock::time_point at);
    void CarryToBoard();
    void CarryToHost();
    void Notify();
    void PlayStartSignal();
    void SetInput(uint16_t bit, bool on);
    // After failed endpoint I/O: waits for the function's next enable (or
    // the stop). False when stopping.
    bool AwaitEnable(uint64_t failedIn);
    // Sleeps ms unless the gadget stops first; false when stopping.
    bool Pause(int ms);
    // Whether the board is on by its power line (false without one).
    bool BoardPowered() {
        std::lock_guard<std::mutex> guard(lock);
        return config.powerLine != AcmLine::None && powered;
    }
};

AcmGadget::AcmGadget(Board& board, const AcmGadgetConfig& config)
    : state(new State(board, config)) {}

AcmGadget::~AcmGadget() {
    Stop();
}

void AcmGadget::Start() {
    State& s = *state;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Fail("pipe");
    }
    s.wakeRead = fds[0];
    s.wakeWrite = fds[1];
    if (!s.config.lineLogPath.empty()) {
        s.logFd = open(s.config.lineLogPath.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (s.logFd < 0) {
            Fail("opening the line log " + s.config.lineLogPath);
        }
    }
    s.slave = open(s.board.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s.slave < 0) {
        Fail("opening the board's pseudo-terminal");
    }
    s.start = Clock::now();
    if (s.config.powerLine != AcmLine::None) {
        s.powered = false;
        s.board.SetPowered(false);
        s.Log(s.start, "power=off");
    }
    s.Make();
    s.Spawn(&State::ServeControl);
    s.Spawn(&State::CarryToBoard);
    s.Spawn(&State::CarryToHost);
    s.Spawn(&State::Notify);
    if (s.config.startSignal != AcmLine::None) {
        s.Spawn(&State::PlayStartSignal);
    }
    s.BorrowBreakCapability();
    s.Bind();
}

void AcmGadget::Stop() {
    State& s = *state;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.stopping = true;
    }
    s.changed.notify_all();
    if (s.wakeWrite >= 0) {
        char byte = 1;
        ssize_t ignored = write(s.wakeWrite, &byte, 1);
        (void)ignored;
    }
    // Unbinding disables the endpoints: I/O waiting on them ends.
    s.Unbind();
    for (std::thread& thread : s.threads) {
        thread.join();
    }
    s.threads.clear();
    s.TakeDown();
    for (int* fd : {&s.slave, &s.wakeRead, &s.wakeWrite, &s.logFd}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

void AcmGadget::State::Spawn(void (State::*body)()) {
    // Signals are for the program's own thread, never these.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    threads.emplace_back([this, body] { (this->*body)(); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Makes the gadget in configfs, mounts its FunctionFS and writes the
// descriptors; the endpoint files then exist. Whatever a run that was killed
// left of a gadget of the same name is taken down first.
void AcmGadget::State::Make() {
    TakeDown();
    if (!Exists(kGadgets)) {
        errno = ENOENT;
        Fail(std::string(kGadgets) + " (configfs mounted, libcomposite loaded?)");
    }
    const std::string function = root + "/functions/ffs." + config.name;
    const std::string configuration = root + "/configs/c.1";
    MakeDirectory(root);
    StoreOrFail(root + "/idVendor", Hex4(kVendorId));
    StoreOrFail(root + "/idProduct", Hex4(kProductId));
    StoreOrFail(root + "/bcdDevice", Hex4(0x0100));
    StoreOrFail(root + "/bcdUSB", Hex4(0x0200));
    MakeDirectory(root + "/strings/0x409");
    StoreOrFail(root + "/strings/0x409/manufacturer", "KELVOR");
    StoreOrFail(root + "/strings/0x409/product", "KELVOR DSP board (simulated)");
    StoreOrFail(root + "/strings/0x409/serialnumber", "kelvor-sim");
    MakeDirectory(configuration);
    MakeDirectory(configuration + "/strings/0x409");
    StoreOrFail(configuration + "/strings/0x409/configuration", "serial");
    StoreOrFail(configuration + "/MaxPower", "100");
    MakeDirectory(function);
    if (symlink(function.c_str(), (configuration + "/ffs." + config.name).c_str()) != 0) {
        Fail("linking the function into the configuration");
    }
    char dir[] = "/tmp/kelvor-ffs.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        Fail("making a folder for FunctionFS");
    }
    mountDir = dir;
    if (mount(config.name.c_str(), mountDir.c_str(), "functionfs", 0, nullptr) != 0) {
        Fail("mounting FunctionFS (usb_f_fs loaded?)");
    }
    ep0 = open((mountDir + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0 < 0) {
        Fail("opening ep0");
    }
    const std::string descriptors = Descriptors();
    if (write(ep0, descriptors.data(), descriptors.size()) !=
        static_cast<ssize_t>(descriptors.size())) {
        Fail("writing the descriptors");
    }
    const std::string strings = Strings();
    if (write(ep0, strings.data(), strings.size()) != static_cast<ssize_t>(strings.size())) {
        Fail("writing the strings");
    }
    // Non-blocking: I/O on an endpoint the host has not enabled fails at once
    // instead of waiting for it (a transfer itself still waits).
    for (auto [fd, name] : {std::pair<int*, const char*>{&epNotify, "/ep1"},
                            std::pair<int*, const char*>{&epIn, "/ep2"},
                            std::pair<int*, const char*>{&epOut, "/ep3"}}) {
        *fd = open((mountDir + name).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (*fd < 0) {
            Fail(std::string("opening ") + (name + 1));
        }
    }
}

void AcmGadget::State::TakeDown() {
    Unbind();
    for (int* fd : {&epNotify, &epIn, &epOut, &ep0}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    // A FunctionFS of this name still mounted (ours, or a killed run's).
    std::ifstream mounts("/proc/mounts");
    std::string device, where, type, rest;
    while (mounts >> device >> where >> type && std::getline(mounts, rest)) {
        if (type == "functionfs" && device == config.name) {
            umount2(where.c_str(), MNT_DETACH);
            rmdir(where.c_str());
        }
    }
    if (!mountDir.empty()) {
        rmdir(mountDir.c_str());
        mountDir.clear();
    }
    if (!Exists(root)) {
        return;
    }
    Store(root + "/UDC", "\n");
    const std::string configuration = root + "/configs/c.1";
    unlink((configuration + "/ffs." + config.name).c_str());
    rmdir((configuration + "/strings/0x409").c_str());
    rmdir(configuration.c_str());
    rmdir((root + "/functions/ffs." + config.name).c_str());
    rmdir((root + "/strings/0x409").c_str());
    rmdir(root.c_str());
}

void AcmGadget::State::BorrowBreakCapability() const {
    const std::string path = std::string(kAcmDriver) + "/new_id";
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x %04x", kVendorId, kProductId);
    std::ifstream known(path);
    if (!known) {
        return;  // the host is another machine, or its driver is not loaded
    }
    std::string line;
    while (std::getline(known, line)) {
        if (line.rfind(ids, 0) == 0) {
            return;
        }
    }
    if (!Store(path, std::string(ids) + " 0 " + kBreakCapableEntry + "\n")) {
        Fail("writing " + path);
    }
}

void AcmGadget::State::Bind() {
    StoreOrFail(root + "/UDC", config.controller + "\n");
    bound = true;
}

void AcmGadget::State::Unbind() {
    if (bound) {
        Store(root + "/UDC", "\n");
        bound = false;
    }
}

// ep0: the function's events and the host's control requests.
void AcmGadget::State::ServeControl() {
    while (WaitReadable(ep0, wakeRead)) {
        usb_functionfs_event event{};
        const ssize_t got = read(ep0, &event, sizeof event);
        const Clock::time_point at = Clock::now();
        if (got != static_cast<ssize_t>(sizeof event)) {
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            return;
        }
        switch (event.type) {
            case FUNCTIONFS_ENABLE: {
                std::lock_guard<std::mutex> guard(lock);
                enabled = true;
                ++generation;
                changed.notify_all();
                break;
            }
            case FUNCTIONFS_DISABLE:
            case FUNCTIONFS_UNBIND: {
                std::lock_guard<std::mutex> guard(lock);
                enabled = false;
                changed.notify_all();
                break;
            }
            case FUNCTIONFS_SETUP:
                HandleSetup(event.u.setup, at);
                break;
            default:
                break;
        }
    }
}

// Answers one control request. A request without data stage is acknowledged
// by a zero-length read, one with an OUT data stage by reading it, an IN one
// by writing the answer; I/O in the other direction stalls (unknown requests).
void AcmGadget::State::HandleSetup(const usb_ctrlrequest& request, Clock::time_point at) {
    const bool in = (request.bRequestType & USB_DIR_IN) != 0;
    const uint16_t value = le16toh(request.wValue);
    const uint16_t length = le16toh(request.wLength);
    char none = 0;
    const bool classRequest = (request.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS &&
                              (request.bRequestType & USB_RECIP_MASK) == USB_RECIP_INTERFACE;
    if (classRequest && !in && request.bRequest == kSetLineCoding && length >= 7) {
        uint8_t data[64];
        const ssize_t got = read(ep0, data, std::min<size_t>(length, sizeof data));
        if (got >= 7) {
            std::memcpy(coding, data, sizeof coding);
            const uint32_t rate =
                data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
            Log(at, "rate=" + std::to_string(rate));
        }
        return;
    }
    if (classRequest && in && request.bRequest == kGetLineCoding) {
        ssize_t ignored = write(ep0, coding, std::min<size_t>(length, sizeof coding));
        (void)ignored;
        return;
    }
    if (classRequest && !in && length == 0 && request.bRequest == kSetControlLineState) {
        SetOutputs(value & 3, at);
        ssize_t ignored = read(ep0, &none, 0);
        (void)ignored;
        return;
    }
    if (classRequest && !in && length == 0 && request.bRequest == kSendBreak) {
        Log(at, "break=" + std::to_string(value));
        ssize_t ignored = read(ep0, &none, 0);
        (void)ignored;
        return;
    }
    ssize_t ignored = in ? read(ep0, &none, 0) : write(ep0, &none, 0);
    (void)ignored;
}

// The host set DTR and RTS: logged, and the board's power follows its line
// before the host's request is acknowledged (the host's call returns with the
// board already switched).
void AcmGadget::State::SetOutputs(int lines, Clock::time_point at) {
    Log(at, "dtr=" + std::to_string(lines & 1) + " rts=" + std::to_string((lines >> 1) & 1));
    outputs = lines;
    if (config.powerLine == AcmLine::None) {
        return;
    }
    const bool on = (lines & (config.powerLine == AcmLine::Dtr ? 1 : 2)) != 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (on == powered) {
            return;
        }
        powered = on;
    }
    // What the host sent before it changed the line reached the board before
    // the change (the pseudo-terminal between them is the gadget's own, not
    // part of the line): the board takes it first, as it is powered then.
    board.WaitForBytes(fromHost, kSettleMs);
    if (!on) {
        // What the board had on its way to the host goes with its power.
        tcflush(slave, TCIFLUSH);
    }
    board.SetPowered(on);
    Log(at, on ? "power=on" : "power=off");
}

bool AcmGadget::State::AwaitEnable(uint64_t failedIn) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return stopping || (enabled && generation != failedIn); });
    return !stopping;
}

bool AcmGadget::State::Pause(int ms) {
    std::unique_lock<std::mutex> guard(lock);
    return !changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return stopping; });
}

// Host to board: one packet at a time from the bulk OUT endpoint into the
// board's pseudo-terminal. The thread runs at a real-time priority: woken by
// the packet's arrival it runs before the host's program goes on, so a packet
// is always counted before any control request the host sends after it (a
// host waits for its data to leave before it changes a line), and a change of
// the board's power waits for the board to have taken it. Without the
// privilege it runs as it is.
void AcmGadget::State::CarryToBoard() {
    sched_param priority{};
    priority.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    char packet[kPacket];
    for (;;) {
        uint64_t current;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) {
                return;
            }
            current = generation;
        }
        const ssize_t got = read(epOut, packet, sizeof packet);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            if (!AwaitEnable(current)) {
                return;
            }
            continue;
        }
        fromHost += got;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(slave, packet + done, static_cast<size_t>(got - done));
            if (put > 0) {
                done += put;
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            pollfd fds[2] = {{slave, POLLOUT, 0}, {wakeRead, POLLIN, 0}};
            if (poll(fds, 2, -1) > 0 && (fds[1].revents & POLLIN) != 0) {
                return;
            }
        }
    }
}

// Board to host: what the board sends, in writes shorter than a packet, to
// the bulk IN endpoint. While the host has not enabled the function it is
// dropped, as a line nobody listens to.
void AcmGadget::State::CarryToHost() {
    char bytes[kPacket - 1];
    while (WaitReadable(slave, wakeRead)) {
        const ssize_t got = read(slave, bytes, sizeof bytes);
        if (got <= 0) {
            if (got < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            continue;
        }
        ssize_t put;
        do {
            put = write(epIn, bytes, static_cast<size_t>(got));
        } while (put < 0 && errno == EINTR);
    }
}

// The board's input lines, to the host as SERIAL_STATE on the interrupt
// endpoint: each change once the host takes it (the host's driver reads the
// endpoint only while its port is open).
void AcmGadget::State::Notify() {
    uint64_t sent = 0;
    for (;;) {
        uint16_t bits;
        uint64_t version;
        uint64_t current;
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] { return stopping || (enabled && inputsVersion != sent); });
            if (stopping) {
                return;
            }
            bits = inputs;
            version = inputsVersion;
            current = generation;
        }
        uint8_t message[10] = {USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE,
                               kSerialState,
                               0,
                               0,
                               0,
                               0,
                               2,
                               0,
                               static_cast<uint8_t>(bits & 0xff),
                               static_cast<uint8_t>(bits >> 8)};
        const ssize_t put = write(epNotify, message, sizeof message);
        if (put == static_cast<ssize_t>(sizeof message)) {
            sent = version;
        } else if (!(put < 0 && errno == EINTR) && !AwaitEnable(current)) {
            return;
        }
    }
}

void AcmGadget::State::SetInput(uint16_t bit, bool on) {
    std::lock_guard<std::mutex> guard(lock);
    const uint16_t now = on ? (inputs | bit) : (inputs & ~bit);
    if (now == inputs) {
        return;
    }
    inputs = now;
    ++inputsVersion;
    const char* name = bit == kStateDsr ? "dsr" : bit == kStateDcd ? "dcd" : "ri";
    Log(Clock::now(), std::string(name) + "=" + (on ? "1" : "0"));
    changed.notify_all();
}

// A fixture's start signal: on (a board in, the lid closed); after a complete
// download, once the board is switched off (at once without a power line),
// off (the lid opened) and on again (the next board in), each signalGapMs
// later; then it waits for that board's boot loader to start afresh (switched
// on anew) before it watches for its download.
void AcmGadget::State::PlayStartSignal() {
    constexpr int kLookMs = 10;
    const uint16_t bit = StateBit(config.startSignal);
    SetInput(bit, true);
    for (;;) {
        while (!board.Summary().downloadComplete || BoardPowered()) {
            if (!Pause(kLookMs)) {
                return;
            }
        }
        if (!Pause(config.signalGapMs)) {
            return;
        }
        SetInput(bit, false);
        if (!Pause(config.signalGapMs)) {
            return;
        }
        SetInput(bit, true);
        while (board.Summary().downloadComplete) {
            if (!Pause(kLookMs)) {
                return;
            }
        }
    }
}

}  // namespace sim
