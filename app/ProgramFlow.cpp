#include "app/ProgramFlow.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/CommandLine.h"
#include "app/Outcome.h"
#include "app/ProgramFlowMessages.h"
#include "app/SessionListeners.h"
#include "app/Settings.h"
#include "app/boards/BoardAfterBoard.h"
#include "app/boards/BoardImage.h"
#include "app/check/ImageCheckRun.h"
#include "app/console/ConsoleRecorder.h"
#include "app/factory/ForwardRecords.h"
#include "app/factory/RecordForwarder.h"
#include "app/fixture/Fixture.h"
#include "app/gang/Gang.h"
#include "app/gang/GangEvents.h"
#include "app/gang/GangPorts.h"
#include "app/report/ReportMessages.h"
#include "app/report/RunReport.h"
#include "app/stamp/Stamping.h"
#include "errors/FatalError.h"
#include "errors/Interrupted.h"
#include "errors/PortError.h"
#include "errors/ProgramError.h"
#include "process/ParentChannel.h"
#include "protocol/Console.h"
#include "protocol/Downloader.h"
#include "protocol/ProtocolMessages.h"
#include "protocol/RawCopy.h"
#include "serial/COMPort.h"
#include "serial/Interrupt.h"
#include "serial/PortSelector.h"
#include "text/UploadFile.h"

namespace {

// The data files of a run; closed after the port, whatever the mode and
// however the run ends.
struct DataFiles {
    DataFiles() = default;
    DataFiles(const DataFiles&) = delete;
    DataFiles& operator=(const DataFiles&) = delete;
    ~DataFiles() {
        if (raw != nullptr) {
            std::fclose(raw);
        }
    }

    UploadFile upload;
    std::FILE* raw = nullptr;
};

// What a console of this run adds to the plain terminal; sink nullptr:
// standard output, unchanged.
ConsoleSetup ConsoleSetupFor(const Settings& settings, ConsoleSink* sink) {
    ConsoleSetup setup;
    setup.reconnect = settings.reconnect;
    setup.sink = sink;
    return setup;
}

// The exit status of the session: 1 when it stopped on a protocol failure.
// With --monitor a complete session goes on as a console on the same port,
// which ends only when the operator ends the run.
int RunDownload(COMPort& port, const Settings& settings, ProtocolOptions options, UploadFile& file,
                const BoardImage& image, RunReport* report, ConsoleSink* sink, Stamping* stamping,
                GangEventWriter* gang, RecordForwarder* forwarder) {
    image.OpenFor(file);
    Fixture fixture(settings, report);
    fixture.Prepare(port);
    if (fixture.StartsBoard()) {
        options.boardStarter = &fixture;
    }
    if (settings.repeat) {
        return RunBoardAfterBoard(port, settings, options, file, image, report, fixture, stamping,
                                  gang, forwarder);
    }
    Downloader downloader(file, port, options);
    try {
        while (downloader.Step() == 0) {
        }
        // The console follows before the board's end sequence, on the port
        // as the session left it; it ends only by an interrupt or an error.
        // Complete: neither a protocol failure nor a file that failed to read.
        if (settings.monitor && !downloader.Failed() && !file.ReadFailed()) {
            if (report != nullptr) {
                report->SetConsoleFollowed();
            }
            ConsoleSetup setup = ConsoleSetupFor(settings, sink);
            setup.afterDownload = true;
            const int status = RunConsole(port, options, setup);
            fixture.EndBoard(port, false);
            return status;
        }
    } catch (...) {
        fixture.EndBoard(port, true);
        throw;
    }
    fixture.EndBoard(port, false);
    return downloader.Failed() ? 1 : 0;
}

// Who hears what the run does: its record (--report), its gang's channel of
// events (a run of a gang), the session's ending, which the gang is told at
// the end, and the board's number (--stamp).
struct RunListeners {
    std::unique_ptr<RunReport> report;
    std::unique_ptr<ParentChannel> channel;
    std::unique_ptr<GangEventWriter> gang;
    SessionEnding ending;
    SessionListeners all;
    std::optional<RunOutcome> preset;  // the image check's
    // What a console shows and logs, with --log or a stamp setting; nullptr:
    // the board's output goes to standard output unchanged.
    std::unique_ptr<ConsoleRecorder> recorder;
    std::unique_ptr<Stamping> stamping;
    // The records' forward to the factory's database (--report-db).
    std::unique_ptr<RecordForwarder> forwarder;
};

// The exit status of the mode, once it has ended normally.
int RunMode(COMPort& port, const Settings& settings, DataFiles& files, const BoardImage& image,
            RunListeners& listeners) {
    ProtocolOptions options = ToProtocolOptions(settings);
    options.observer = &listeners.all;
    RunReport* report = listeners.report.get();
    Stamping* stamping = listeners.stamping.get();
    options.recordFilter = stamping != nullptr ? stamping->Filter() : nullptr;
    switch (settings.mode) {
        case ModeConsole:
            return RunConsole(port, options, ConsoleSetupFor(settings, listeners.recorder.get()));
        case ModeRaw:
            RunRawCopy(port, options, settings.dataFile, files.raw);
            return 0;
        default:
            return RunDownload(port, settings, options, files.upload, image, report,
                               listeners.recorder.get(), stamping, listeners.gang.get(),
                               listeners.forwarder.get());
    }
}

// The lines of text, each without its line end.
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// What a record says of a refused image: its summary line as the error,
// and the findings as shown.
void RecordRefusal(RunReport& report, const Settings& settings, const ImageCheckResult& result) {
    std::vector<std::string> shown = LinesOf(ImageFindingsText(settings.dataFile, result));
    const std::string refusal = shown.back();
    shown.resize(result.findings.size());
    report.SetRefusal(refusal, std::move(shown));
}

// The result of --check or --check-only.
struct CheckedImage {
    bool endsRun = false;  // the run ends here, with status
    int status = 0;
    std::optional<RunOutcome> outcome;  // the check's, when it ends the run
    std::string digest;                 // of a sound image; empty when none was checked
    ImageCheckResult result;
};

// With --check or --check-only, checks the image before the port is opened,
// so that a refused one never reaches the board; a refusal is kept in report
// (when there is one).
CheckedImage CheckImage(const Settings& settings, RunReport* report) {
    CheckedImage checked;
    if (settings.checkImage == 0 && settings.checkOnly == 0) {
        return checked;
    }
    ImageCheckRun check = RunImageCheck(settings.dataFile);
    checked.endsRun = !check.sound || settings.checkOnly != 0;
    if (checked.endsRun) {
        checked.outcome = check.sound ? RunOutcome::ImageOk : RunOutcome::ImageRefused;
    }
    checked.status = check.sound ? 0 : 1;
    checked.digest = check.sound ? check.result.sha256 : std::string();
    if (report != nullptr && !check.sound) {
        RecordRefusal(*report, settings, check.result);
    }
    checked.result = std::move(check.result);
    return checked;
}

// A gang whose image is refused starts no run; each of its ports still gets
// the record its run would have written.
void RecordRefusedGang(const Settings& settings, const CheckedImage& checked, RunEnd& end) {
    for (const std::string& port : settings.gangPorts) {
        Settings portSettings = settings;
        portSettings.portName = port.c_str();
        RunReport report(settings.reportFile, portSettings);
        if (settings.runId != nullptr) {
            report.SetRunId(std::string(settings.runId) + "@" + port);
        }
        RecordRefusal(report, portSettings, checked.result);
        report.SetOutcome(RunOutcome::ImageRefused);
        if (!report.Write(RunEndKind::ProgramError, end.status, "", nullptr)) {
            end.message += FormatText(messages::kCannotWriteReportFormat, settings.reportFile);
        }
    }
    const std::unique_ptr<RecordForwarder> forwarder =
        MakeRecordForwarder(settings.reportFile, settings.reportDb);
    if (forwarder != nullptr) {
        end.message += forwarder->Forward();
    }
}

// The gang, once its image is checked: every run is told the digest of the
// image checked (--checked-image), and sends only that image.
RunEnd RunCheckedGang(int argumentCount, char** arguments, const Settings& settings) {
    RunEnd end;
    const CheckedImage checked = CheckImage(settings, nullptr);
    if (checked.endsRun) {
        end.status = checked.status;
        if (settings.reportFile != nullptr && checked.status != 0) {
            RecordRefusedGang(settings, checked, end);
        }
        return end;
    }
    std::vector<char*> withDigest(arguments, arguments + argumentCount);
    std::string digestSwitch = "--checked-image";
    std::string digest = checked.digest;
    if (!digest.empty()) {
        withDigest.push_back(digestSwitch.data());
        withDigest.push_back(digest.data());
    }
    withDigest.push_back(nullptr);
    end.status = RunGang(static_cast<int>(withDigest.size() - 1), withDigest.data(), settings);
    return end;
}

// The port lives only as long as this call: by the time an error leaves it,
// the port has been closed and given back.
int RunOnPort(const Settings& settings, PortPlatform& platform, DataFiles& files,
              const BoardImage& image, RunListeners& listeners) {
    RunReport* report = listeners.report.get();
    if (report != nullptr && !IsUsbPortName(settings.portName)) {
        report->SetDevice(platform.DevicePath(settings.portName));
    }
    COMPort port(settings.portName, platform);
    if (report != nullptr) {
        report->SetDevice(port.DevicePath());
        const std::optional<PortInfo> listed = port.DescribeOpenedPort();
        if (listed && !listed->vendorId.empty()) {
            report->SetUsb(listed->vendorId + ":" + listed->productId,
                           listed->serialNumber.empty()
                               ? std::nullopt
                               : std::optional<std::string>(listed->serialNumber));
        }
    }
    return RunMode(port, settings, files, image, listeners);
}

RunEnd EndOfPortError(const std::runtime_error& error) {
    const std::string detail = DetailOf(error);
    if (!detail.empty()) {
        return {1,
                FormatText(messages::kErrorOccurredWithDetailFormat, error.what(), detail.c_str())};
    }
    return {1, FormatText(messages::kErrorOccurredFormat, error.what())};
}

// Appends the run's record; a record that cannot be written is said on
// standard error and fails a run that had not failed.
void WriteReport(RunReport& report, RunEndKind kind, const Settings& settings, RunEnd& end) {
    const bool bySignal = end.interrupt != 0;
    const char* interruptName = bySignal ? InterruptName(end.interrupt) : nullptr;
    const std::optional<int> status = bySignal ? std::nullopt : std::optional<int>(end.status);
    if (!report.Write(kind, status, end.message, interruptName) && !bySignal) {
        end.message += FormatText(messages::kCannotWriteReportFormat, settings.reportFile);
        end.status = end.status == 0 ? 1 : end.status;
    }
}

// Once the run's record is on disk, its forward (--report-db) says what it
// must after the run's own message; a run ended by an interrupt forwards
// nothing (its record waits for the next forward) and says nothing more.
void ForwardRecord(RecordForwarder* forwarder, RunEndKind kind, RunEnd& end) {
    if (forwarder != nullptr && kind != RunEndKind::Interrupted) {
        end.message += forwarder->Forward();
    }
}

// Makes the run's listeners the settings ask for.
void Listen(const Settings& settings, RunListeners& listeners) {
    if (settings.reportFile != nullptr) {
        listeners.report = std::make_unique<RunReport>(settings.reportFile, settings);
        listeners.all.Add(listeners.report.get());
    }
    // The database lets the run in while the board is programmed.
    listeners.forwarder = MakeRecordForwarder(settings.reportFile, settings.reportDb);
    if (listeners.forwarder != nullptr) {
        listeners.forwarder->StartEarly();
    }
    if (settings.gangMember != nullptr) {
        listeners.channel = std::make_unique<ParentChannel>(settings.gangMember);
        listeners.gang = std::make_unique<GangEventWriter>(*listeners.channel);
        listeners.all.Add(listeners.gang.get());
    }
    listeners.all.Add(&listeners.ending);
    // The log is opened before the port, so that one that cannot be opened
    // ends the run before the board is touched.
    if (settings.logFile != nullptr || settings.lineStamps != kLineStampsNone) {
        listeners.recorder = std::make_unique<ConsoleRecorder>(settings);
    }
}

}  // namespace

RunEnd RunProgram(int argumentCount, char** arguments) {
    return RunProgram(argumentCount, arguments, SystemPortPlatform());
}

RunEnd RunProgram(int argumentCount, char** arguments, PortPlatform& platform) {
    Settings settings;
    DataFiles files;
    RunListeners listeners;
    RunEnd end;
    RunEndKind kind = RunEndKind::Normal;
    try {
        // Before the echo line: a reader of standard output that has gone
        // already is noticed as a request (SIGPIPE), not the program's end.
        // The requests answered while parsing (usage, banners, port list)
        // end before the handlers matter.
        ParseCommandLine(argumentCount, arguments, settings, InstallInterruptHandlers);
        // Forwards the records of the report file, and opens nothing else.
        if (settings.forwardRecords) {
            const ForwardRecordsEnd forwarded =
                ForwardRecords(settings.reportFile, settings.reportDb);
            return {forwarded.status, forwarded.message};
        }
        // A gang downloads to each of its ports in a run of its own, which
        // keeps its own record; this process checks the image once and opens
        // no port.
        if (settings.gang != nullptr) {
            PrepareStamping(settings, nullptr, nullptr);
            return RunCheckedGang(argumentCount, arguments, settings);
        }
        if (settings.gangMember != nullptr) {
            InterruptWhenParentEnds();
        }
        Listen(settings, listeners);
        const CheckedImage checked = CheckImage(settings, listeners.report.get());
        listeners.preset = checked.outcome;
        end.status = checked.status;
        if (!checked.endsRun) {
            listeners.stamping =
                PrepareStamping(settings, listeners.report.get(), listeners.gang.get());
            listeners.all.Add(listeners.stamping.get());
            // A gang's run sends the image its gang checked.
            const BoardImage image(
                settings,
                settings.checkedImage != nullptr ? settings.checkedImage : checked.digest,
                listeners.report.get(), listeners.preset);
            end.status = RunOnPort(settings, platform, files, image, listeners);
            if (files.upload.ReadFailed()) {
                FatalError(messages::kFileReadFailedFormat, settings.dataFile);
            }
        }
    } catch (const InterruptedError& interrupt) {
        kind = RunEndKind::Interrupted;
        end.interrupt = interrupt.Request();
    } catch (const PowerCommandError& error) {
        kind = RunEndKind::PowerCommandFailed;
        end = {error.Status(), error.what()};
    } catch (const ProgramError& error) {
        kind = RunEndKind::ProgramError;
        end = {error.Status(), error.what()};
    } catch (const std::runtime_error& error) {
        kind = RunEndKind::PortError;
        end = EndOfPortError(error);
    } catch (...) {
        // Anything else still ends the program abnormally, but only once the
        // stack has been unwound to here, so that the port has been given
        // back first.
        throw;
    }
    // A request that came where no transfer noticed it (while the port was
    // being closed, or the file read) ends the run all the same, as it
    // would have without the handlers.
    if (InterruptRequest() != 0) {
        kind = RunEndKind::Interrupted;
        end = {end.status, std::string(), InterruptRequest()};
    }
    const RunOutcome outcome =
        OutcomeOfRun({kind, settings.mode == ModeConsole, listeners.preset, listeners.ending.Ending()});
    if (listeners.stamping != nullptr) {
        listeners.stamping->Finish(outcome);
    }
    RunReport* report = listeners.report.get();
    if (report != nullptr && listeners.preset) {
        report->SetOutcome(*listeners.preset);
    }
    if (report != nullptr && report->Pending()) {
        WriteReport(*report, kind, settings, end);
        ForwardRecord(listeners.forwarder.get(), kind, end);
    }
    if (listeners.gang != nullptr) {
        listeners.gang->End(outcome);
    }
    return end;
}

int EndProgram(const RunEnd& end) {
    if (end.interrupt != 0) {
        EndAsInterrupted(end.interrupt);
    }
    std::fflush(stdout);
    if (!end.message.empty()) {
        std::fputs(end.message.c_str(), stderr);
    }
    return end.status;
}
