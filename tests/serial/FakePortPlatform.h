#pragma once
// A port platform that records every call and can refuse any of them, for
// checking what COMPort asks of the platform and how it reports refusals;
// and, for the layers above, a port with something behind it: scripted
// reads (a byte at a time for fuzzing, silences included), a board that
// answers the lines written to it, modem signals that change from look to
// look, and an output queue that holds what a drop may take.

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "serial/PortPlatform.h"

class FakePortPlatform : public PortPlatform {
  public:
    // Calls in order, by name ("SetState", "GetTimeouts", ...).
    std::vector<std::string> calls;
    // Calls to refuse, by name.
    std::set<std::string> refused;
    // Refuses SetState for states it returns true for.
    std::function<bool(const PortState&)> refuseState = [](const PortState&) { return false; };

    // The port as the platform holds it.
    PortState state;
    PortTimeouts timeouts;
    std::vector<PortState> appliedStates;
    std::vector<PortTimeouts> appliedTimeouts;
    // What successive reads deliver; an empty entry is a read that timed out.
    std::deque<std::string> reads;
    // Once reads is used up (and the board has nothing to say): false, a
    // read fails (the device has gone); true, it times out with nothing,
    // counted in readsPastEnd.
    bool readsEndInSilence = false;
    int readsPastEnd = 0;
    std::string written;
    // A board behind the port: each line written (without its CR LF) is
    // handed to it, and its answer is what the reads deliver once reads is
    // used up, each read taking as much of it as it asks for.
    std::function<std::string(const std::string& line)> board;
    // What a board on the line sees, in order: each line written (without
    // its CR LF), each change of the modem lines as "dtr=D+rts=R", "close".
    std::vector<std::string> lineEvents;
    uint8_t modemSignals = 0;
    // Successive answers of GetModemStatus, the last one repeated; while
    // empty, modemSignals.
    std::vector<uint8_t> modemSignalLooks;
    // What QueuedOutput reports, the waits DrainOutput was given, and the
    // detail of a refused SetState.
    uint32_t queuedOutput = 0;
    std::vector<uint32_t> drainWaits;
    std::string refusalDetail;
    // What DiscardOutput leaves of the queue: 0 for a driver that drops it
    // all; a driver that drops nothing keeps queuedOutput.
    uint32_t keptByDiscard = 0;
    // The port is open (Close ends that even when it is refused), and how
    // often it was opened.
    bool open = false;
    int opens = 0;

    FakePortPlatform() {
        state.baudRate = 4800;
        state.byteSize = 7;
        state.parity = kParityEven;
        state.stopBits = kStopBitsTwo;
        state.dtrControl = kDtrControlDisable;
        state.outX = true;
        state.inX = true;
        timeouts = {5, 6, 7, 11, 22};
    }

    size_t Count(const std::string& name) const {
        size_t count = 0;
        for (const std::string& call : calls) {
            count += call == name ? 1 : 0;
        }
        return count;
    }

    PortHandle Open(const char* name) override {
        openedName = name;
        if (!Record("Open")) {
            return kInvalidPortHandle;
        }
        open = true;
        ++opens;
        return 3;
    }
    bool Close(PortHandle) override {
        open = false;
        lineEvents.push_back("close");
        return Record("Close");
    }
    bool GetState(PortHandle, PortState& out) override {
        out = state;
        return Record("GetState");
    }
    bool SetState(PortHandle, const PortState& in) override {
        if (!Record("SetState") || refuseState(in)) {
            return false;
        }
        state = in;
        appliedStates.push_back(in);
        return true;
    }
    bool GetTimeouts(PortHandle, PortTimeouts& out) override {
        out = timeouts;
        return Record("GetTimeouts");
    }
    bool SetTimeouts(PortHandle, const PortTimeouts& in) override {
        if (!Record("SetTimeouts")) {
            return false;
        }
        timeouts = in;
        appliedTimeouts.push_back(in);
        return true;
    }
    bool Read(PortHandle, void* buffer, uint32_t count, uint32_t& received) override {
        received = 0;
        if (!Record("Read")) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (!reads.empty()) {
            const std::string next = std::move(reads.front());
            reads.pop_front();
            received = static_cast<uint32_t>(std::min<size_t>(count, next.size()));
            std::memcpy(buffer, next.data(), received);
            return true;
        }
        if (!answers.empty()) {
            received = static_cast<uint32_t>(std::min<size_t>(count, answers.size()));
            answers.copy(static_cast<char*>(buffer), received);
            answers.erase(0, received);
            return true;
        }
        readsPastEnd += readsEndInSilence ? 1 : 0;
        return readsEndInSilence;
    }
    bool Write(PortHandle, const void* buffer, uint32_t count, uint32_t& written_) override {
        written_ = 0;
        if (!Record("Write")) {
            return false;
        }
        written.append(static_cast<const char*>(buffer), count);
        written_ = count;
        lineSoFar.append(static_cast<const char*>(buffer), count);
        for (size_t end = lineSoFar.find("\r\n"); end != std::string::npos;
             end = lineSoFar.find("\r\n")) {
            const std::string line = lineSoFar.substr(0, end);
            lineSoFar.erase(0, end + 2);
            lineEvents.push_back(line);
            if (board) {
                answers += board(line);
            }
        }
        return true;
    }
    bool CanSetModemLines(PortHandle) override { return Record("CanSetModemLines"); }
    // The states SetModemLines was given, in order.
    std::vector<PortState> lineChanges;
    bool SetModemLines(PortHandle, const PortState& in) override {
        if (!Record("SetModemLines")) {
            return false;
        }
        lineChanges.push_back(in);
        state.dtrControl = in.dtrControl;
        state.rtsControl = in.rtsControl;
        lineEvents.push_back(std::string("dtr=") +
                             (in.dtrControl == kDtrControlEnable ? "1" : "0") +
                             "+rts=" + (in.rtsControl == kRtsControlEnable ? "1" : "0"));
        return true;
    }
    bool SetBreak(PortHandle) override { return Record("SetBreak"); }
    bool ClearBreak(PortHandle) override { return Record("ClearBreak"); }
    bool GetModemStatus(PortHandle, uint8_t& signals) override {
        signals = modemSignalLooks.empty()
                      ? modemSignals
                      : modemSignalLooks[std::min(looks++, modemSignalLooks.size() - 1)];
        return Record("GetModemStatus");
    }
    bool GetProperties(PortHandle, PortProperties& properties) override {
        properties.maxBaud = 0x10000000;
        return Record("GetProperties");
    }
    bool BuildState(const char* definition, PortState& out, PortTimeouts& outTimeouts) override {
        if (!Record("BuildState") || std::strcmp(definition, "baud=1200 to=on") != 0) {
            return false;
        }
        out.baudRate = 1200;
        outTimeouts.writeTotalConstant = 60000;
        return true;
    }

    bool QueuedOutput(PortHandle, uint32_t& queued) override {
        queued = queuedOutput;
        return Record("QueuedOutput");
    }
    bool DrainOutput(PortHandle, uint32_t waitMs) override {
        drainWaits.push_back(waitMs);
        queuedOutput = 0;
        return Record("DrainOutput");
    }
    bool DiscardOutput(PortHandle) override {
        if (!Record("DiscardOutput")) {
            return false;
        }
        queuedOutput = std::min(queuedOutput, keptByDiscard);
        return true;
    }
    std::string RefusalDetail(PortHandle) override {
        Record("RefusalDetail");
        return refusalDetail;
    }

    std::string openedName;

    // The ports ListPorts reports; each call is recorded as "ListPorts".
    std::vector<PortInfo> listedPorts;
    std::vector<PortInfo> ListPorts() override {
        Record("ListPorts");
        return listedPorts;
    }

  private:
    bool Record(const std::string& name) {
        calls.push_back(name);
        return refused.count(name) == 0;
    }

    std::string lineSoFar;  // written after the last CR LF
    std::string answers;    // the board's, not yet read
    size_t looks = 0;       // of the modem signals
};
