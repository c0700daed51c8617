#include "sim/Board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/Pacer.h"

namespace sim {

namespace {

constexpr int kIdlePollMs = 100;
constexpr size_t kReadChunkBytes = 4096;
// At the end of a run, how long the host may take to read what was sent.
constexpr int kLingerMs = 1000;
constexpr int kLingerStepMs = 20;

void SetFlags(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A pipe, both ends non-blocking and closed on exec.
void MakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error(std::string("board: pipe failed: ") + std::strerror(errno));
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    SetFlags(fds[0]);
    SetFlags(fds[1]);
}

int MsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count());
}

}  // namespace

struct Board::Shared {
    explicit Shared(const BoardConfig& boardConfig)
        : config(boardConfig),
          protocol(boardConfig),
          inputPacer(boardConfig.baudRate),
          outputPacer(boardConfig.baudRate) {}
    ~Shared() {
        for (int fd : {wakeRead, wakeWrite, powerRead, powerWrite, logFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    BoardConfig config;
    std::unique_ptr<PseudoTerminal> pty = std::make_unique<PseudoTerminal>();
    std::string linkPath;  // a symbolic link kept pointing at the port
    bool vanished = false;
    bool vanishedOnce = false;
    Clock::time_point reappearAt{};
    int wakeRead = -1;
    int wakeWrite = -1;
    // RequestPower's requests, one byte each ('1' on, '0' off), in order:
    // a pipe counts every one, however close together they come.
    int powerRead = -1;
    int powerWrite = -1;
    int logFd = -1;
    std::atomic<bool> stopRequested{false};
    // The loop's own: the requests read and not yet applied, and until when
    // a board switched off by a request stays off.
    std::deque<char> powerSteps;
    Clock::time_point offUntil{};

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    LoaderProtocol protocol;
    std::string received;
    std::vector<ReceivedChunk> chunks;
    std::string sent;
    std::deque<Emission> outbox;
    Clock::time_point frontDue{};
    size_t frontOffset = 0;
    bool hangUpRequested = false;
    bool powered = true;
    bool startedWhileSending = false;
    bool stopped = false;
    bool running = false;
    Pacer inputPacer;
    Pacer outputPacer;

    void Wake() const {
        char byte = 1;
        ssize_t ignored = write(wakeWrite, &byte, 1);
        (void)ignored;
    }
    void Queue(std::vector<Emission> emissions, Clock::time_point now) {
        for (Emission& emission : emissions) {
            if (outbox.empty()) {
                frontDue = now + std::chrono::milliseconds(emission.delayMs);
                frontOffset = 0;
            }
            outbox.push_back(std::move(emission));
        }
    }
    bool RunOver(Clock::time_point deadline) const {
        if (config.exitAfterStart && protocol.Summary().starts > 0 && outbox.empty()) {
            return true;
        }
        return config.runTimeoutMs > 0 && Clock::now() >= deadline;
    }
    void Linger() const;
    // A host that ends without giving the port back (killed) leaves the line
    // marked for exclusive use, and as our own descriptor keeps the line
    // open, nothing would clear the mark: every later open by a normal user
    // would be refused. The final close of a real port clears it; the board
    // clears it whenever the line is idle.
    void ReleaseExclusive() const {
        if (pty->SlaveFd() >= 0) {
            ioctl(pty->SlaveFd(), TIOCNXCL);
        }
    }
    void ReadInput();
    void WriteOutput();
    void CloseLine();
    // The port goes away: the link is removed, the line closed (the host
    // sees a hang-up), what was queued dropped. Lock held.
    void Vanish();
    // The port comes back on a fresh pseudo-terminal, the link made again to
    // point at it. Lock held.
    void Reappear();
    // Links path to the port now, in one step. Lock held.
    bool Link() const;
    // Plays the vanishing of the configuration; lock held.
    void PlayVanishing(Clock::time_point start);
    int PlanPoll(short& events);
};

Board::Board(const BoardConfig& config) : shared(new Shared(config)) {
    MakePipe(shared->wakeRead, shared->wakeWrite);
    MakePipe(shared->powerRead, shared->powerWrite);
    if (!config.logPath.empty()) {
        shared->logFd =
            open(config.logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (shared->logFd < 0) {
            throw std::runtime_error("board: cannot open log file " + config.logPath + ": " +
                                     std::strerror(errno));
        }
    }
}

Board::~Board() {
    Stop();
    if (!shared->linkPath.empty()) {
        unlink(shared->linkPath.c_str());
    }
}

std::string Board::SlavePath() const {
    std::lock_guard<std::mutex> lock(shared->lock);
    return shared->pty->SlavePath();
}

void Board::Start() {
    if (!thread.joinable()) {
        thread = std::thread([this] { Loop(); });
    }
}

void Board::Run() {
    Loop();
}

void Board::Stop() {
    RequestStop();
    if (thread.joinable()) {
        thread.join();
    }
}

void Board::RequestStop() {
    shared->stopRequested = true;
    shared->Wake();
}

void Board::Send(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(shared->lock);
    shared->Queue({Emission{0, bytes}}, Clock::now());
    shared->Wake();
}

void Board::SetPowered(bool on) {
    std::lock_guard<std::mutex> lock(shared->lock);
    if (on && !shared->powered) {
        shared->protocol = LoaderProtocol(shared->config);
        shared->startedWhileSending = false;
    }
    if (!on) {
        shared->outbox.clear();
        shared->frontOffset = 0;
    }
    shared->powered = on;
    shared->changed.notify_all();
    shared->Wake();
}

void Board::PowerOnAs(const BoardConfig& config) {
    {
        std::lock_guard<std::mutex> lock(shared->lock);
        const BoardConfig before = shared->config;
        shared->config = config;
        shared->config.baudRate = before.baudRate;
        shared->config.logPath = before.logPath;
        shared->config.runTimeoutMs = before.runTimeoutMs;
    }
    SetPowered(true);
}

void Board::RequestPower(bool on) {
    const char request = on ? '1' : '0';
    ssize_t ignored = write(shared->powerWrite, &request, 1);
    (void)ignored;
}

void Board::TakePowerRequests() {
    char requests[64];
    ssize_t got;
    while ((got = read(shared->powerRead, requests, sizeof requests)) > 0) {
        shared->powerSteps.insert(shared->powerSteps.end(), requests, requests + got);
    }
}

// Applies the power requests in the order they came. A board switched off by
// one stays off kRequestedOffMs before a later one switches it on again, so
// that the host sees it gone however soon the request to switch it on
// follows. Returns how long the loop may wait before the next is due.
int Board::ApplyPowerRequests() {
    Shared& s = *shared;
    while (!s.powerSteps.empty()) {
        const bool on = s.powerSteps.front() == '1';
        const Clock::time_point now = Clock::now();
        if (on && now < s.offUntil) {
            return MsUntil(s.offUntil, now);
        }
        bool wasOn;
        {
            std::lock_guard<std::mutex> lock(s.lock);
            wasOn = s.powered;
        }
        if (!on && wasOn) {
            s.offUntil = now + std::chrono::milliseconds(kRequestedOffMs);
        }
        SetPowered(on);
        s.powerSteps.pop_front();
    }
    return kIdlePollMs;
}

void Board::Vanish() {
    std::lock_guard<std::mutex> lock(shared->lock);
    shared->Vanish();
    shared->Wake();
}

void Board::Reappear() {
    std::lock_guard<std::mutex> lock(shared->lock);
    shared->Reappear();
    shared->Wake();
}

bool Board::WaitForVanished(bool gone, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return shared->vanished == gone; });
}

bool Board::LinkAt(const std::string& path) {
    std::lock_guard<std::mutex> lock(shared->lock);
    shared->linkPath = path;
    return shared->Link();
}

void Board::HangUp() {
    std::lock_guard<std::mutex> lock(shared->lock);
    shared->hangUpRequested = true;
    if (!shared->running) {
        shared->CloseLine();
    }
    shared->Wake();
}

void Board::Loop() {
    Shared& s = *shared;
    {
        std::lock_guard<std::mutex> lock(s.lock);
        s.running = true;
    }
    const Clock::time_point start = Clock::now();
    Clock::time_point deadline = start + std::chrono::milliseconds(s.config.runTimeoutMs);
    while (!s.stopRequested) {
        const int powerWaitMs = ApplyPowerRequests();
        short events = 0;
        int waitMs;
        int masterFd = -1;  // the line's, taken under the lock: Reappear replaces it
        {
            std::lock_guard<std::mutex> lock(s.lock);
            s.PlayVanishing(start);
            if (s.hangUpRequested || s.protocol.HangUpDue() || (!s.pty->IsOpen() && !s.vanished)) {
                s.CloseLine();
                break;
            }
            if (s.RunOver(deadline)) {
                s.Linger();
                break;
            }
            waitMs = s.vanished ? std::min(kIdlePollMs, MsUntil(s.reappearAt, Clock::now()))
                                : s.PlanPoll(events);
            if (s.config.vanishAfterMs > 0 && !s.vanishedOnce) {
                waitMs = std::min(waitMs, MsUntil(start + std::chrono::milliseconds(
                                                              s.config.vanishAfterMs),
                                                  Clock::now()));
            }
            if (s.config.runTimeoutMs > 0) {
                waitMs = std::min(waitMs, MsUntil(deadline, Clock::now()));
            }
            waitMs = std::min(waitMs, powerWaitMs);
            masterFd = s.vanished ? -1 : s.pty->MasterFd();
        }
        pollfd fds[3] = {{masterFd, events, 0}, {s.wakeRead, POLLIN, 0}, {s.powerRead, POLLIN, 0}};
        int ready = poll(fds, 3, waitMs);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready == 0) {
            std::lock_guard<std::mutex> lock(s.lock);
            if (!s.vanished) {
                s.ReleaseExclusive();
            }
        }
        char drain[64];
        while (read(s.wakeRead, drain, sizeof drain) > 0) {
        }
        if (fds[2].revents & POLLIN) {
            TakePowerRequests();
        }
        if (fds[0].revents & POLLIN) {
            s.ReadInput();
        }
        if (fds[0].revents & POLLOUT) {
            s.WriteOutput();
        }
    }
    std::lock_guard<std::mutex> lock(s.lock);
    s.running = false;
    s.stopped = true;
    s.changed.notify_all();
}

// Waits (briefly) until the host has read everything sent: a closing master
// takes unread bytes with it. Our own slave descriptor tells what is unread,
// once the bytes have passed the kernel's buffers on their way to the line
// (hence one step first).
void Board::Shared::Linger() const {
    for (int waited = 0; waited < kLingerMs && pty->SlaveFd() >= 0; waited += kLingerStepMs) {
        poll(nullptr, 0, kLingerStepMs);
        int unread = 0;
        if (ioctl(pty->SlaveFd(), FIONREAD, &unread) != 0 || unread == 0) {
            return;
        }
    }
}

// Decides what to wait for: input when the pacer lets bytes in, output when
// the front of the outbox is due and the pacer lets bytes out.
int Board::Shared::PlanPoll(short& events) {
    Clock::time_point now = Clock::now();
    int waitMs = kIdlePollMs;
    if (inputPacer.Allowance(now) > 0) {
        events |= POLLIN;
    } else {
        waitMs = std::min(waitMs, inputPacer.WaitMs(now));
    }
    if (!outbox.empty()) {
        if (now < frontDue) {
            waitMs = std::min(waitMs, MsUntil(frontDue, now));
        } else if (outputPacer.Allowance(now) > 0) {
            events |= POLLOUT;
        } else {
            waitMs = std::min(waitMs, outputPacer.WaitMs(now));
        }
    }
    return waitMs;
}

void Board::Shared::ReadInput() {
    std::lock_guard<std::mutex> guard(lock);
    Clock::time_point now = Clock::now();
    size_t want = std::min(kReadChunkBytes, inputPacer.Allowance(now));
    int64_t beforeHangUp = protocol.BytesBeforeHangUp();
    if (beforeHangUp >= 0) {
        want = std::min(want, static_cast<size_t>(beforeHangUp));
    }
    if (want == 0) {
        return;
    }
    char buffer[kReadChunkBytes];
    ssize_t got = read(pty->MasterFd(), buffer, want);
    if (got <= 0) {
        return;
    }
    now = Clock::now();
    inputPacer.Consume(static_cast<size_t>(got));
    const int startsBefore = protocol.Summary().starts;
    const bool sending = std::any_of(outbox.begin(), outbox.end(),
                                     [](const Emission& e) { return e.flashAcknowledgement; });
    std::vector<Emission> answer;
    std::string taken(buffer, static_cast<size_t>(got));
    if (powered) {
        answer = protocol.Feed(std::string_view(buffer, got));
        startedWhileSending =
            startedWhileSending || (sending && protocol.Summary().starts > startsBefore);
        taken.resize(protocol.LastTaken());
    }
    if (!taken.empty()) {
        received += taken;
        chunks.push_back({now, taken});
        if (logFd >= 0) {
            ssize_t ignored = write(logFd, taken.data(), taken.size());
            (void)ignored;
        }
    }
    Queue(std::move(answer), now);
    changed.notify_all();
}

void Board::Shared::WriteOutput() {
    std::lock_guard<std::mutex> guard(lock);
    Clock::time_point now = Clock::now();
    if (outbox.empty() || now < frontDue) {
        return;
    }
    const std::string& bytes = outbox.front().bytes;
    size_t want = std::min(bytes.size() - frontOffset, outputPacer.Allowance(now));
    ssize_t put = want > 0 ? write(pty->MasterFd(), bytes.data() + frontOffset, want) : 0;
    if (put > 0) {
        outputPacer.Consume(static_cast<size_t>(put));
        sent.append(bytes, frontOffset, static_cast<size_t>(put));
        frontOffset += static_cast<size_t>(put);
    }
    if (frontOffset >= bytes.size()) {
        outbox.pop_front();
        frontOffset = 0;
        if (!outbox.empty()) {
            frontDue = now + std::chrono::milliseconds(outbox.front().delayMs);
        }
        changed.notify_all();
    }
}

bool Board::Shared::Link() const {
    const std::string fresh = linkPath + ".new";
    unlink(fresh.c_str());
    return symlink(pty->SlavePath().c_str(), fresh.c_str()) == 0 &&
           rename(fresh.c_str(), linkPath.c_str()) == 0;
}

void Board::Shared::Vanish() {
    if (vanished) {
        return;
    }
    if (!linkPath.empty()) {
        unlink(linkPath.c_str());
    }
    pty->Close();
    // What the loader was answering goes with the line; the started
    // program's lines wait for the port to come back, a line cut short
    // going out whole again.
    const bool frontIsProgram = !outbox.empty() && outbox.front().program;
    const bool cutShort = frontIsProgram && frontOffset > 0;
    outbox.erase(std::remove_if(outbox.begin(), outbox.end(),
                                [](const Emission& emission) { return !emission.program; }),
                 outbox.end());
    frontOffset = 0;
    if (cutShort) {
        frontDue = Clock::now();
    } else if (!frontIsProgram && !outbox.empty()) {
        frontDue = Clock::now() + std::chrono::milliseconds(outbox.front().delayMs);
    }
    vanished = true;
    vanishedOnce = true;
    reappearAt = Clock::now() + std::chrono::milliseconds(config.vanishForMs);
    changed.notify_all();
}

void Board::Shared::Reappear() {
    if (!vanished) {
        return;
    }
    pty = std::make_unique<PseudoTerminal>();
    if (!linkPath.empty()) {
        Link();
    }
    vanished = false;
    changed.notify_all();
}

void Board::Shared::PlayVanishing(Clock::time_point start) {
    const Clock::time_point now = Clock::now();
    if (config.vanishAfterMs > 0 && !vanishedOnce &&
        now >= start + std::chrono::milliseconds(config.vanishAfterMs)) {
        Vanish();
    } else if (vanished && config.vanishAfterMs > 0 && now >= reappearAt) {
        Reappear();
    }
}

void Board::Shared::CloseLine() {
    if (pty->IsOpen()) {
        pty->Close();
        protocol.NoteHungUp();
    }
    outbox.clear();
    stopped = true;
    changed.notify_all();
}

std::string Board::Received() const {
    std::lock_guard<std::mutex> lock(shared->lock);
    return shared->received;
}

std::vector<ReceivedChunk> Board::ReceivedChunks() const {
    std::lock_guard<std::mutex> lock(shared->lock);
    return shared->chunks;
}

Clock::time_point Board::ReceivedAt(size_t offset) const {
    std::lock_guard<std::mutex> lock(shared->lock);
    size_t start = 0;
    for (const ReceivedChunk& chunk : shared->chunks) {
        if (offset < start + chunk.bytes.size()) {
            return chunk.at;
        }
        start += chunk.bytes.size();
    }
    return Clock::time_point();
}

int64_t Board::BytesReceived() const {
    std::lock_guard<std::mutex> lock(shared->lock);
    return static_cast<int64_t>(shared->received.size());
}

std::string Board::Sent() const {
    std::lock_guard<std::mutex> lock(shared->lock);
    return shared->sent;
}

bool Board::WaitForReceived(const std::string& text, int timeoutMs, size_t from) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return shared->received.size() >= from &&
               shared->received.find(text, from) != std::string::npos;
    });
}

bool Board::WaitForBytes(int64_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<int64_t>(shared->received.size()) >= count;
    });
}

bool Board::WaitForRecords(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return shared->protocol.Summary().records >= count; });
}

bool Board::WaitForStart(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return shared->protocol.Summary().started; });
}

bool Board::WaitForSendIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return shared->outbox.empty(); });
}

bool Board::WaitForStopped(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(shared->lock);
    return shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return shared->stopped; });
}

BoardSummary Board::Summary() const {
    std::lock_guard<std::mutex> lock(shared->lock);
    BoardSummary summary = shared->protocol.Summary();
    summary.startedWhileSending = shared->startedWhileSending;
    return summary;
}

}  // namespace sim
