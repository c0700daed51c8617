#include "app/ProgramFlow.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/CommandLine.h"
#include "app/ProgramFlowMessages.h"
#include "app/Settings.h"
#include "app/boards/BoardAfterBoard.h"
#include "app/boards/BoardImage.h"
#include "app/check/ImageCheckRun.h"
#include "app/gang/Gang.h"
#include "app/gang/GangPorts.h"
#include "app/report/ReportMessages.h"
#include "app/report/RunReport.h"
#include "errors/FatalError.h"
#include "errors/Interrupted.h"
#include "errors/PortError.h"
#include "errors/ProgramError.h"
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

// The exit status of the session: 1 when it stopped on a protocol failure.
int RunDownload(COMPort& port, const Settings& settings, const ProtocolOptions& options,
                UploadFile& file, const BoardImage& image, RunReport* report) {
    image.OpenFor(file);
    if (settings.repeat) {
        return RunBoardAfterBoard(port, settings, options, file, image, report);
    }
    Downloader downloader(file, port, options);
    while (downloader.Step() == 0) {
    }
    return downloader.Failed() ? 1 : 0;
}

// The exit status of the mode, once it has ended normally. report hears
// what the protocol does (nullptr: none is kept).
int RunMode(COMPort& port, const Settings& settings, DataFiles& files, const BoardImage& image,
            RunReport* report) {
    ProtocolOptions options = ToProtocolOptions(settings);
    options.observer = report;
    switch (settings.mode) {
        case ModeConsole:
            return RunConsole(port, options);
        case ModeRaw:
            RunRawCopy(port, options, settings.dataFile, files.raw);
            return 0;
        default:
            return RunDownload(port, settings, options, files.upload, image, report);
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
    report.SetOutcome("image-refused");
}

// The result of --check or --check-only.
struct CheckedImage {
    bool endsRun = false;     // the run ends here, with status
    int status = 0;
    std::string digest;       // of a sound image; empty when none was checked
    ImageCheckResult result;  // of the check
};

// With --check or --check-only, checks the image before the port is opened,
// so that a refused one never reaches the board.
CheckedImage CheckImage(const Settings& settings, RunReport* report) {
    CheckedImage checked;
    if (settings.checkImage == 0 && settings.checkOnly == 0) {
        return checked;
    }
    ImageCheckRun check = RunImageCheck(settings.dataFile);
    checked.endsRun = !check.sound || settings.checkOnly != 0;
    checked.status = check.sound ? 0 : 1;
    checked.digest = check.sound ? check.result.sha256 : std::string();
    if (report != nullptr && !check.sound) {
        RecordRefusal(*report, settings, check.result);
    } else if (report != nullptr && checked.endsRun) {
        report->SetOutcome("image-ok");
    }
    checked.result = std::move(check.result);
    return checked;
}

// A gang whose image is refused starts no run; each of its ports still gets
// the record its run would have written.
void RecordRefusedGang(const Settings& settings, const CheckedImage& checked, RunEnd& end) {
    std::vector<std::string> ports;
    std::string problem;
    SplitGangPorts(settings.gang, ports, problem);
    for (const std::string& port : ports) {
        Settings portSettings = settings;
        portSettings.portName = port.c_str();
        RunReport report(settings.reportFile, portSettings);
        if (settings.runId != nullptr) {
            report.SetRunId(std::string(settings.runId) + "@" + port);
        }
        RecordRefusal(report, portSettings, checked.result);
        if (!report.Write(RunEndKind::ProgramError, end.status, "", nullptr)) {
            end.message += FormatText(messages::kCannotWriteReportFormat, settings.reportFile);
        }
    }
}

// The gang, once its image is checked: every run is told the digest of the
// image checked, and sends only that image.
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
              const BoardImage& image, RunReport* report) {
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
    return RunMode(port, settings, files, image, report);
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

}  // namespace

RunEnd RunProgram(int argumentCount, char** arguments) {
    return RunProgram(argumentCount, arguments, SystemPortPlatform());
}

RunEnd RunProgram(int argumentCount, char** arguments, PortPlatform& platform) {
    Settings settings;
    DataFiles files;
    std::unique_ptr<RunReport> report;
    RunEnd end;
    RunEndKind kind = RunEndKind::Normal;
    try {
        // Before the echo line: a reader of standard output that has gone
        // already is noticed as a request (SIGPIPE), not the program's end.
        // The requests answered while parsing (usage, banners, port list)
        // end before the handlers matter.
        ParseCommandLine(argumentCount, arguments, settings, InstallInterruptHandlers);
        // A gang downloads to each of its ports in a run of its own, which
        // keeps its own record; this process checks the image once and opens
        // no port.
        if (settings.gang != nullptr) {
            return RunCheckedGang(argumentCount, arguments, settings);
        }
        if (settings.gangMember != 0) {
            InterruptWhenParentEnds();
        }
        if (settings.reportFile != nullptr) {
            report = std::make_unique<RunReport>(settings.reportFile, settings);
        }
        const CheckedImage checked = CheckImage(settings, report.get());
        end.status = checked.status;
        if (!checked.endsRun) {
            // A gang's run sends the image its gang checked.
            const BoardImage image(
                settings,
                settings.checkedImage != nullptr ? settings.checkedImage : checked.digest,
                report.get());
            end.status = RunOnPort(settings, platform, files, image, report.get());
            if (files.upload.ReadFailed()) {
                FatalError(messages::kFileReadFailedFormat, settings.dataFile);
            }
        }
    } catch (const InterruptedError& interrupt) {
        kind = RunEndKind::Interrupted;
        end.interrupt = interrupt.Request();
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
    if (report != nullptr && report->Pending()) {
        WriteReport(*report, kind, settings, end);
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
