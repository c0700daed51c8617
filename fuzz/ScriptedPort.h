#pragma once
// A port platform whose reads play a script of board output, for fuzzing what
// reads the port. Each read delivers one scripted byte, or nothing (a read
// that timed out) where the script has a silence, and nothing at all once the
// script is used up. Writes are kept; every other call succeeds.

#include <cstring>
#include <string>
#include <vector>

#include "serial/PortPlatform.h"

class ScriptedPort : public PortPlatform {
  public:
    // A step of the script: a byte, or a silence.
    struct Step {
        bool silence;
        char byte;
    };
    std::vector<Step> script;
    size_t next = 0;
    std::string written;
    // Reads made after the script was used up.
    int readsPastEnd = 0;

    bool Exhausted() const { return next >= script.size(); }

    PortHandle Open(const char*) override { return 3; }
    bool Close(PortHandle) override { return true; }
    bool GetState(PortHandle, PortState& out) override {
        out = state;
        return true;
    }
    bool SetState(PortHandle, const PortState& in) override {
        state = in;
        return true;
    }
    bool GetTimeouts(PortHandle, PortTimeouts& out) override {
        out = timeouts;
        return true;
    }
    bool SetTimeouts(PortHandle, const PortTimeouts& in) override {
        timeouts = in;
        return true;
    }
    bool Read(PortHandle, void* buffer, uint32_t count, uint32_t& received) override {
        received = 0;
        if (count == 0) {
            return true;
        }
        if (Exhausted()) {
            ++readsPastEnd;
            return true;
        }
        const Step step = script[next++];
        if (!step.silence) {
            std::memcpy(buffer, &step.byte, 1);
            received = 1;
        }
        return true;
    }
    bool Write(PortHandle, const void* buffer, uint32_t count, uint32_t& done) override {
        written.append(static_cast<const char*>(buffer), count);
        done = count;
        return true;
    }
    bool SetBreak(PortHandle) override { return true; }
    bool ClearBreak(PortHandle) override { return true; }
    bool GetModemStatus(PortHandle, uint8_t&) override { return false; }
    bool GetProperties(PortHandle, PortProperties& properties) override {
        properties.maxBaud = kMaxBaudProgrammable;
        return true;
    }
    bool BuildState(const char*, PortState&, PortTimeouts&) override { return false; }
    bool QueuedOutput(PortHandle, uint32_t& queued) override {
        queued = 0;
        return true;
    }
    bool DrainOutput(PortHandle, uint32_t) override { return true; }
    std::string RefusalDetail(PortHandle) override { return ""; }

  private:
    PortState state;
    PortTimeouts timeouts;
};
