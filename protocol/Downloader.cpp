#include "protocol/Downloader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/FatalError.h"
#include "errors/Interrupted.h"
#include "protocol/BoardStarter.h"
#include "protocol/ProtocolMessages.h"
#include "text/RecordLineFilter.h"
#include "text/Shown.h"

namespace {

// With --timeout, the flash write as a whole is bounded too, counted from "W".
constexpr const char* kFlashNotAcknowledgedWithinFormat =
    "Error: Flash Write command was not acknowledged within %u s\n";

// Reads a count as atoi does (leading white space, an optional sign, then
// digits up to the first other character; no digits give 0), but a value
// beyond the 32-bit range stops at its limit instead of wrapping round to a
// small number that could pass for the right count.
int32_t ParseCount(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// The share of fileBytes that position makes, in whole percent, truncated;
// never past 100, also when the file grew after it was measured.
int Percentage(int64_t position, int64_t fileBytes) {
    if (fileBytes <= 0 || position >= fileBytes) {
        return 100;
    }
    return static_cast<int>(100 * position / fileBytes);
}

}  // namespace

Downloader::Downloader(UploadFile& uploadFile, COMPort& serialPort,
                       const ProtocolOptions& protocolOptions)
    : file(uploadFile),
      port(serialPort),
      options(protocolOptions),
      observer(protocolOptions.observer != nullptr ? *protocolOptions.observer : noObserver) {
    fileSize = file.Size();
}

int Downloader::Step() {
    try {
        return StepState();
    } catch (const InterruptedError&) {
        // The program ends as the signal would have ended it: nothing more
        // printed.
        CountWhatLeft();
        throw;
    } catch (...) {
        EndProgressLine();
        throw;
    }
}

int Downloader::StepState() {
    switch (state) {
        case StatePrompt:
            return StepPrompt();
        case StateIdentify:
            return StepIdentify();
        case StateRequest:
            return StepRequest();
        case StateUpload:
            return StepUpload();
        case StateCount:
            return StepCount();
        case StateFlash:
            return StepFlash();
        case StateStart:
            return StepStart();
        default:
            return 1;
    }
}

void Downloader::Configure(uint32_t readTimeoutMs) {
    port.Configure(options.baudRate, readTimeoutMs);
}

const char* Downloader::ReplyText() {
    return lineBuf.LastLine() + 1;
}

void Downloader::EnterPhase(SessionPhase phase) {
    phaseLimit.Reset();
    observer.OnPhase(phase);
}

int Downloader::Fail(SessionOutcome failure, const std::string& text) {
    Show(text.c_str());
    observer.OnOutcome(failure, text.substr(0, text.find('\n')).c_str());
    failed = true;
    return 1;
}

int Downloader::TimedOut(const char* format) {
    ReportTimeout(format, options);
    failed = true;
    return 1;
}

int Downloader::StepPrompt() {
    EnterPhase(SessionPhase::Identify);
    Configure(kPollTimeoutMs);
    if (options.boardStarter != nullptr) {
        options.boardStarter->Start(port);
    } else if (options.showPrompt) {
        Show(messages::kPowerCyclePrompt);
        std::fflush(stdout);
    }
    state = StateIdentify;
    return 0;
}

bool Downloader::Exchange(const char* command) {
    const ReplyWatch watch{&observer, &phaseLimit};
    SettleLine(lineBuf, port, options.debug, kReplyTimeoutMs, watch);
    if (options.timeoutSeconds != 0) {
        StartTimeout(phaseLimit, options);
        // Never 0: a read time-out of 0 would wait for ever.
        port.SetReadTimeouts(0, 0, std::max<uint32_t>(1, phaseLimit.RemainingMs(kReplyTimeoutMs)));
    }
    SendCommand(command, port, options.debug);
    return AwaitReply(lineBuf, port, options.debug, watch);
}

int Downloader::StepIdentify() {
    StartTimeout(phaseLimit, options);
    if (!Identify(lineBuf, port, options, phaseLimit)) {
        return phaseLimit.Passed() ? TimedOut(messages::kNoAnswerWithinFormat) : 0;
    }
    Configure(kReplyTimeoutMs);
    EnterPhase(SessionPhase::Request);
    state = StateRequest;
    return 0;
}

int Downloader::StepRequest() {
    if (!Exchange("R\r\n")) {
        return phaseLimit.Passed() ? TimedOut(messages::kRequestNotAcknowledgedWithinFormat) : 0;
    }
    Show(messages::kStartUploading);
    std::fflush(stdout);
    EnterPhase(SessionPhase::Upload);
    state = StateUpload;
    return 0;
}

int Downloader::StepUpload() {
    size_t length = file.ReadLine(line.data(), kLineBufferBytes);
    // A line cut short by a failed read is not sent.
    if (length == 0 || file.ReadFailed()) {
        return FinishUpload();
    }
    length = PrepareRecordLine(line.data(), length);
    line[length] = '\0';
    if (!IsRecordLine(line.data(), length)) {
        return 0;
    }
    if (options.recordFilter != nullptr) {
        options.recordFilter->Filter(line.data(), length);
    }
    pendingLineEnd = port.BytesWritten() + length;
    pendingLength = length;
    SendText(line.data(), length, port, options.debug);
    if (linesUploaded % kProgressInterval == 0) {
        ShowProgress(false);
    }
    LineSent(length);
    return 0;
}

void Downloader::LineSent(size_t length) {
    const uint64_t end = pendingLineEnd;
    pendingLineEnd = 0;
    ++linesUploaded;
    lineEnds.push_back(end);
    while (end - lineEnds.front() > kMostBytesWithdrawn) {
        lineEnds.pop_front();
    }
    observer.OnRecordLine(line.data(), length);
    observer.OnRecordsSent(linesUploaded);
}

void Downloader::CountWhatLeft() {
    const uint64_t written = port.BytesWritten();
    if (pendingLineEnd != 0 && written >= pendingLineEnd) {
        LineSent(pendingLength);
    }
    pendingLineEnd = 0;
    const uint64_t dropped = std::min<uint64_t>(port.DropOutput(), written);
    int32_t withdrawn = 0;
    while (!lineEnds.empty() && lineEnds.back() > written - dropped) {
        lineEnds.pop_back();
        ++withdrawn;
    }
    if (withdrawn > 0) {
        linesUploaded -= withdrawn;
        observer.OnRecordsWithdrawn(linesUploaded);
    }
}

void Downloader::ShowProgress(bool last) {
    const int percent = Percentage(file.Position(), fileSize);
    if (options.showProgress) {
        ShowFormatted(messages::kProgressFormat, static_cast<int>(linesUploaded), percent);
        if (last) {
            Show("\n");
        }
        std::fflush(stdout);
    }
    progressLineOpen = !last;
    progressShown = {linesUploaded, percent};
    observer.OnProgress(linesUploaded, percent, last);
}

void Downloader::EndProgressLine() {
    if (progressLineOpen) {
        if (options.showProgress) {
            Show("\n");
        }
        progressLineOpen = false;
        observer.OnProgress(progressShown.first, progressShown.second, true);
    }
}

int Downloader::FinishUpload() {
    ShowProgress(true);
    if (file.ReadFailed()) {
        observer.OnOutcome(SessionOutcome::FileReadFailed, "");
        return 1;
    }
    if (linesUploaded == 0) {
        return Fail(SessionOutcome::NoRecords, messages::kNoValidLines);
    }
    EnterPhase(SessionPhase::Count);
    state = StateCount;
    return 0;
}

int Downloader::StepCount() {
    if (!Exchange("C\r\n")) {
        return phaseLimit.Passed() ? TimedOut(messages::kCountNotAcknowledgedWithinFormat) : 0;
    }
    const int32_t reported = ParseCount(ReplyText());
    observer.OnCountConfirmed(reported);
    if (reported != linesUploaded) {
        return Fail(SessionOutcome::CountMismatch,
                    FormatText(messages::kCountMismatchFormat, static_cast<int>(linesUploaded),
                               static_cast<int>(reported)));
    }
    Show(messages::kFileUploadedOk);
    state = StateFlash;
    return 0;
}

int Downloader::StepFlash() {
    if (options.writeFlash) {
        EnterPhase(SessionPhase::Flash);
        SettleLine(lineBuf, port, options.debug, kReplyTimeoutMs, ReplyWatch{&observer, nullptr});
        StartTimeout(phaseLimit, options);
        SendCommand("W\r\n", port, options.debug);
        Show(messages::kProgrammingFlash);
        std::fflush(stdout);
        const bool acknowledged = AwaitFlash();
        observer.OnFlash(acknowledged);
        if (!acknowledged && phaseLimit.Passed()) {
            return TimedOut(kFlashNotAcknowledgedWithinFormat);
        }
        if (!acknowledged) {
            return Fail(SessionOutcome::FlashNotAcknowledged, messages::kFlashNotAcknowledged);
        }
    }
    state = StateStart;
    return 0;
}

// Each read waits at most 3 s of silence; with --timeout the wait as a whole
// ends once the bound counted from "W" has passed, so a board that keeps
// talking without ever acknowledging cannot hold the station past it.
bool Downloader::AwaitFlash() {
    port.DrainOutput();
    // Never 0: a read time-out of 0 would wait for ever.
    port.SetReadTimeouts(0, 0, std::max<uint32_t>(1, phaseLimit.RemainingMs(kReplyTimeoutMs)));
    return ReadReply(lineBuf, port, options.debug, ReplyWatch{&observer, &phaseLimit});
}

int Downloader::StepStart() {
    if (options.sendStart) {
        EnterPhase(SessionPhase::Start);
        SendCommand("S\r\n", port, options.debug);
        Show(messages::kStartCommandSent);
        observer.OnStartSent();
    }
    observer.OnOutcome(SessionOutcome::Complete, "");
    state = StateDone;
    return 0;
}
