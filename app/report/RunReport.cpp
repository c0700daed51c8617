#include "app/report/RunReport.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <system_error>

#include "app/RunStory.h"
#include "app/boards/BoardImage.h"
#include "app/fixture/FixtureSwitches.h"
#include "app/report/SentDigest.h"
#include "errors/Version.h"
#include "text/Sha256.h"
#include "text/UtcTime.h"

namespace {

using Json = nlohmann::ordered_json;

// Where each session phase's time goes in the record; -1: nowhere (the
// start command takes no time worth a key).
int PhaseIndex(SessionPhase phase) {
    switch (phase) {
        case SessionPhase::Identify:
            return 0;
        case SessionPhase::Request:
        case SessionPhase::Upload:
            return 1;
        case SessionPhase::Count:
            return 2;
        case SessionPhase::Flash:
            return 3;
        case SessionPhase::Start:
        case SessionPhase::Console:
            break;
    }
    return -1;
}

const char* ModeName(uint8_t mode) {
    return mode == ModeConsole ? "console" : mode == ModeRaw ? "raw" : "download";
}

// Seconds to the millisecond.
double ToMillisecond(double seconds) {
    return std::round(seconds * 1000.0) / 1000.0;
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return ToMillisecond(std::chrono::duration<double>(duration).count());
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

std::string WithoutLastLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// A command's end as a record says it, or null when it did not run.
Json CommandJson(const std::optional<FixtureStep>& step) {
    return step ? Json{{"command", step->command},
                       {"ended", step->ended},
                       {"status", OrNull(step->status)}}
                : Json(nullptr);
}

Json StampJson(const StampNote& note, bool closed) {
    return {{"value", note.isText ? Json(note.text) : Json(note.number)},
            {"address", note.address},
            {"format", note.format},
            {"ledger", note.ledger},
            {"closed", closed}};
}

// The keys that only some switches add, after the others, in this order;
// session is the record's part of the board's session.
template <typename Session>
void AddSwitchKeys(Json& record, const Settings& settings, const Session& ended,
                   bool consoleFollowed) {
    if (settings.stamp != nullptr) {
        record["stamp"] = ended.stamp ? StampJson(*ended.stamp, ended.stampClosed) : Json(nullptr);
    }
    if (settings.monitor) {
        record["console_followed"] = consoleFollowed;
    }
    if (FixtureInUse(settings)) {
        Json before;
        before["start_signal"] = ended.startWait
                                     ? Json{{"line", ended.startWait->first},
                                            {"seconds", ToMillisecond(ended.startWait->second)}}
                                     : Json(nullptr);
        before["power_command"] = ended.powerCommand
                                      ? Json{{"command", *ended.powerCommand},
                                             {"ended", ended.powerCommandEnded},
                                             {"status", OrNull(ended.powerCommandStatus)}}
                                      : Json(nullptr);
        before["reset"] = OrNull(ended.resetSequence);
        record["before_polling"] = before;
    }
    if (settings.powerOffCommand != nullptr) {
        record["power_off_command"] = CommandJson(ended.powerOff);
    }
    if (settings.resultCommand != nullptr) {
        record["result_command"] = CommandJson(ended.resultCommand);
    }
}

}  // namespace

RunReport::RunReport(const Settings& runSettings)
    : settings(runSettings),
      recordId(GeneratedRunId()),
      startedAt(std::chrono::system_clock::now()),
      startedClock(Clock::now()),
      sent(std::make_unique<SentDigest>(kMostBytesWithdrawn)) {
    runId = settings.runId != nullptr ? settings.runId : "";
    if (settings.mode == ModeRaw) {
        // Raw mode sends the file's bytes as they are.
        std::error_code error;
        const auto bytes = std::filesystem::file_size(settings.dataFile, error);
        fileDigest = Sha256OfFile(settings.dataFile);
        if (!error && fileDigest) {
            fileBytes = static_cast<int64_t>(bytes);
        }
    } else if (settings.mode == ModeDownload) {
        // Measured only: the board's own image comes with OnImage.
        ImageBytes image;
        if (ReadImageBytes(settings.dataFile, image, false) == ImageRead::Read) {
            OnImage(image.length, image.sha256);
        }
    }
}

RunReport::~RunReport() = default;

void RunReport::OnImage(int64_t bytes, const std::string& sha256) {
    fileBytes = sha256.empty() ? std::nullopt : std::optional<int64_t>(bytes);
    fileDigest = sha256.empty() ? std::nullopt : std::optional<std::string>(sha256);
}

void RunReport::SetRunId(const std::string& id) {
    runId = id;
}

void RunReport::OnImageRefused(const ImageRefusal& image) {
    refusal = WithoutLastLineEnd(image.refusal);
    findings = image.findings;
}

void RunReport::OnPort(const PortFacts& port) {
    device = port.device;
    if (port.usbId) {
        usbId = port.usbId;
        usbSerial = port.usbSerial;
    }
}

void RunReport::OnStamp(const StampNote& note) {
    session.stamp = note;
}

void RunReport::OnFixtureStep(const FixtureStep& step) {
    switch (step.kind) {
        case FixtureStep::Kind::StartSignal:
            session.startWait = std::make_pair(step.line, step.seconds);
            break;
        case FixtureStep::Kind::PowerCommand:
            session.powerCommand = step.command;
            session.powerCommandEnded = step.ended;
            session.powerCommandStatus = step.status;
            break;
        case FixtureStep::Kind::Reset:
            session.resetSequence = step.sequence;
            break;
        case FixtureStep::Kind::ResetEnd:
            break;
        case FixtureStep::Kind::PowerOffCommand:
            session.powerOff = step;
            break;
        case FixtureStep::Kind::ResultCommand:
            session.resultCommand = step;
            break;
    }
}

void RunReport::OnBoardBegin(const BoardBegin& begin) {
    if (begin.number) {
        StartBoard(*begin.number);
    }
    label = begin.label;
}

void RunReport::StartBoard(uint32_t number) {
    session = Session();
    sent = std::make_unique<SentDigest>(kMostBytesWithdrawn);
    pending = true;
    boardNumber = number;
    startedAt = std::chrono::system_clock::now();
    startedClock = Clock::now();
}

void RunReport::EndCurrentPhase(Clock::time_point now) {
    if (session.currentPhase >= 0) {
        session.phaseSeconds[session.currentPhase] +=
            std::chrono::duration<double>(now - session.phaseStart).count();
    }
}

void RunReport::OnPhase(SessionPhase phase) {
    const Clock::time_point now = Clock::now();
    EndCurrentPhase(now);
    session.currentPhase = PhaseIndex(phase);
    session.phaseStart = now;
}

void RunReport::OnBoardIdentified(const char* text) {
    if (!session.board) {
        session.board = text;
    }
}

void RunReport::OnBoardMessage(const char* text) {
    if (session.boardMessages.size() < kMaxBoardMessages) {
        session.boardMessages.emplace_back(text);
    } else {
        ++session.omittedMessages;
    }
}

void RunReport::OnRecordLine(const char* line, size_t length) {
    sent->Add(line, length);
}

void RunReport::OnRecordsSent(int32_t count) {
    session.recordsSent = count;
}

void RunReport::OnRecordsWithdrawn(int32_t count) {
    session.recordsSent = count;
    sent->KeepFirst(count);
}

void RunReport::OnCountConfirmed(int32_t count) {
    session.recordsConfirmed = count;
}

void RunReport::OnFlash(bool acknowledged) {
    session.flashAcknowledged = acknowledged;
}

void RunReport::OnStartSent() {
    session.startSent = true;
}

void RunReport::OnOutcome(SessionOutcome /*outcome*/, const char* message) {
    session.message = message;
}

std::string RunReport::Make(RunOutcome outcome, std::optional<int> exitStatus,
                            const std::string& message, const char* interruptName) {
    pending = false;
    const Clock::time_point now = Clock::now();
    Session ended = session;
    if (ended.currentPhase >= 0) {
        ended.phaseSeconds[ended.currentPhase] +=
            std::chrono::duration<double>(now - ended.phaseStart).count();
    }
    const bool download = settings.mode == ModeDownload;
    const std::string error = !refusal.empty()  ? refusal
                              : message.empty() ? ended.message
                                                : WithoutLastLineEnd(message);

    Json record;
    record["version"] = version::kVersion;
    record["started"] = UtcIsoTime(startedAt);
    record["ended"] = UtcIsoTime(std::chrono::system_clock::now());
    record["mode"] = ModeName(settings.mode);
    record["port"] = settings.portName;
    record["device"] = device.empty() ? Json(nullptr) : Json(device);
    record["usb"] = usbId ? Json{{"id", *usbId}, {"serial", OrNull(usbSerial)}} : Json(nullptr);
    record["baud"] = settings.baudRate;
    record["file"] = settings.mode == ModeConsole ? Json(nullptr) : Json(settings.dataFile);
    record["file_bytes"] = OrNull(fileBytes);
    record["file_sha256"] = OrNull(fileDigest);
    const std::string sentDigest = download ? sent->HexDigest() : std::string();
    record["sent_sha256"] = sentDigest.empty() ? Json(nullptr) : Json(sentDigest);
    record["board"] = OrNull(ended.board);
    record["board_messages"] = ended.boardMessages;
    record["board_messages_omitted"] = ended.omittedMessages;
    record["records_sent"] = download ? Json(ended.recordsSent) : Json(nullptr);
    record["records_confirmed"] = OrNull(ended.recordsConfirmed);
    record["flash"] = !download || settings.writeFlash == 0 ? "not-requested"
                      : ended.flashAcknowledged             ? "acknowledged"
                                                            : "not-acknowledged";
    record["start_sent"] = ended.startSent;
    record["timeout"] =
        settings.timeoutSeconds != 0 ? Json(settings.timeoutSeconds) : Json(nullptr);
    record["outcome"] = OutcomeName(outcome);
    record["error"] = error.empty() ? Json(nullptr) : Json(error);
    record["findings"] = findings;
    record["exit_status"] = OrNull(exitStatus);
    record["signal"] = interruptName != nullptr ? Json(interruptName) : Json(nullptr);
    record["seconds"] = Seconds(now - startedClock);
    record["phases"] = {{"waiting", ToMillisecond(ended.phaseSeconds[0])},
                        {"upload", ToMillisecond(ended.phaseSeconds[1])},
                        {"count", ToMillisecond(ended.phaseSeconds[2])},
                        {"flash", ToMillisecond(ended.phaseSeconds[3])}};
    record["board_number"] = OrNull(boardNumber);
    record["run_id"] = runId;
    // Another random UUID for every record ever made, as for a run's name:
    // the next record's is drawn at once.
    record["record_id"] = recordId;
    recordId = GeneratedRunId();
    record["station"] = settings.station != nullptr ? Json(settings.station) : Json(nullptr);
    record["label"] = OrNull(label);
    AddSwitchKeys(record, settings, ended, consoleFollowed);
    // Texts from the board or the command line need not be UTF-8: a byte
    // that is not becomes U+FFFD rather than losing the record.
    return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}
