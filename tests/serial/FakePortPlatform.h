#pragma once
// A port platform that records every call and can refuse any of them, for
// checking what COMPort asks of the platform and how it reports refusals.

#include <cstring>
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
    std::vector<std::string> reads;
    std::string written;
    uint8_t modemSignals = 0;
    // What QueuedOutput reports, the waits DrainOutput was given, and the
    // detail of a refused SetState.
    uint32_t queuedOutput = 0;
    std::vector<uint32_t> drainWaits;
    std::string refusalDetail;

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
        return Record("Open") ? 3 : kInvalidPortHandle;
    }
    bool Close(PortHandle) override { return Record("Close"); }
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
        if (!Record("Read") || reads.empty()) {
            return false;
        }
        const std::string next = reads.front();
        reads.erase(reads.begin());
        received = static_cast<uint32_t>(std::min<size_t>(count, next.size()));
        std::memcpy(buffer, next.data(), received);
        return true;
    }
    bool Write(PortHandle, const void* buffer, uint32_t count, uint32_t& written_) override {
        written_ = 0;
        if (!Record("Write")) {
            return false;
        }
        written.append(static_cast<const char*>(buffer), count);
        written_ = count;
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
        return true;
    }
    bool SetBreak(PortHandle) override { return Record("SetBreak"); }
    bool ClearBreak(PortHandle) override { return Record("ClearBreak"); }
    bool GetModemStatus(PortHandle, uint8_t& signals) override {
        signals = modemSignals;
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
};
