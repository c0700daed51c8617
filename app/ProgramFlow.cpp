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
#include "app/RunStory.h"
#include "app/Settings.h"
#include "app/boards/BoardAfterBoard.h"
#include "app/boards/BoardImage.h"
#include "app/boards/BoardMessages.h"
#include "app/check/ImageCheckRun.h"
#include "app/console/ConsoleRecorder.h"
#include "app/factory/ForwardRecords.h"
#include "app/fixture/Fixture.h"
#include "app/gang/Gang.h"
#include "app/operator/BoardLabels.h"
#include "app/operator/OperatorMessages.h"
#include "app/stamp/StampPlan.h"
#include "app/stamp/Stamping.h"
#include "app/yield/Yield.h"
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
#include "text/Shown.h"
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
                const BoardImage& image, RunStory& story, ConsoleSink* sink) {
    image.OpenFor(file);
    Fixture fixture(settings, &story.Listeners());
    fixture.Prepare(port);
    if (fixture.StartsBoard()) {
        options.boardStarter = &fixture;
    }
    if (settings.repeat) {
        return RunBoardAfterBoard(port, settings, options, file, image, story, fixture);
    }
    Downloader downloader(file, port, options);
    try {
        while (downloader.Step() == 0) {
        }
        // The console follows before the board's end sequence, on the port
        // as the session left it; it ends only by an interrupt or an error.
        // Complete: neither a protocol failure nor a file that failed to read.
        if (settings.monitor && !downloader.Failed() && !file.ReadFailed()) {
            story.Listeners().OnConsoleFollowed();
            ConsoleSetup setup = ConsoleSetupFor(settings, sink);
            setup.afterDownload = true;
            const int status = RunConsole(port, options, setup);
            story.CloseNumber(0);
            fixture.EndBoard(port, false);
            return status;
        }
    } catch (...) {
        story.CloseNumberOnError();
        fixture.EndBoard(port, true);
        throw;
    }
    story.CloseNumber(0);
    fixture.EndBoard(port, false);
    return downloader.Failed() ? 1 : 0;
}

// The exit status of the mode, once it has ended normally. recorder: what a
// console shows and logs (--log, a stamp setting); nullptr: the board's
// output goes to standard output unchanged.
int RunMode(COMPort& port, const Settings& settings, DataFiles& files, const BoardImage& image,
            RunStory& story, ConsoleRecorder* recorder) {
    ProtocolOptions options = ToProtocolOptions(settings);
    options.observer = &story.Listeners();
    Stamping* stamping = story.Stamp();
    options.recordFilter = stamping != nullptr ? stamping->Filter() : nullptr;
    switch (settings.mode) {
        case ModeConsole:
            return RunConsole(port, options, ConsoleSetupFor(settings, recorder));
        case ModeRaw:
            RunRawCopy(port, options, settings.dataFile, files.raw);
            return 0;
        default:
            return RunDownload(port, settings, options, files.upload, image, story, recorder);
    }
}

// What a record says of a refused image: its summary line as the error, and
// each finding as shown, made from the findings themselves.
ImageRefusal RefusalOf(const Settings& settings, const ImageCheckResult& result) {
    ImageRefusal refusal;
    refusal.refusal = ImageRefusedLine(settings.dataFile, result);
    for (const ImageFinding& finding : result.findings) {
        refusal.findings.push_back(ImageFindingLine(settings.dataFile, finding));
    }
    return refusal;
}

// The result of --check or --check-only.
struct CheckedImage {
    bool endsRun = false;  // the run ends here, with status
    int status = 0;
    std::optional<RunOutcome> outcome;  // the check's, when it ends the run
    std::string digest;                 // of a sound image; empty when none was checked
    ImageCheckResult result;
};

// A refused image ends the run before the port is opened, with status 1.
CheckedImage Refused(const Settings& settings, const ImageCheckResult& result, RunObserver* run) {
    CheckedImage refused;
    refused.endsRun = true;
    refused.outcome = RunOutcome::ImageRefused;
    refused.status = 1;
    if (run != nullptr) {
        run->OnImageRefused(RefusalOf(settings, result));
    }
    refused.result = result;
    return refused;
}

// With --image-sha256, --check or --check-only, checks the image before the
// port is opened, so that a refused one never reaches the board; a refusal
// is told to run (when there is one). The digest comes first: an image that
// is not the one released is not checked further.
CheckedImage CheckImage(const Settings& settings, RunObserver* run) {
    CheckedImage checked;
    if (!settings.imageSha256.empty()) {
        const ImageCheckRun digest = RunImageDigestCheck(settings.dataFile, settings.imageSha256);
        if (!digest.sound) {
            return Refused(settings, digest.result, run);
        }
        checked.digest = digest.result.sha256;
    }
    if (settings.checkImage == 0 && settings.checkOnly == 0) {
        return checked;
    }
    ImageCheckRun check = RunImageCheck(settings.dataFile, settings.wordBytes);
    if (!check.sound) {
        return Refused(settings, check.result, run);
    }
    checked.endsRun = settings.checkOnly != 0;
    if (checked.endsRun) {
        checked.outcome = RunOutcome::ImageOk;
    }
    checked.digest = check.result.sha256;
    checked.result = std::move(check.result);
    return checked;
}

// The stamp's findings refuse the image as the image check's own do: shown
// the same way on standard error, and told to run (when there is one).
CheckedImage RefuseForStamp(const Settings& settings, std::vector<ImageFinding> findings,
                            RunObserver* run) {
    ImageCheckResult result;
    result.opened = true;
    result.findingCount = static_cast<int64_t>(findings.size());
    result.findings = std::move(findings);
    FlushShown();
    std::fputs(ImageFindingsText(settings.dataFile, result).c_str(), stderr);
    return Refused(settings, result, run);
}

// The gang, once its image is checked: every run is told the digest of the
// image checked (--checked-image), and sends only that image. A gang whose
// image is refused (by the check, or by the stamp's findings on it:
// stampRefusal) starts no run; each of its ports still gets the record its
// run would have written.
RunEnd RunCheckedGang(int argumentCount, char** arguments, const Settings& settings,
                      std::vector<ImageFinding> stampRefusal) {
    RunEnd end;
    CheckedImage checked = CheckImage(settings, nullptr);
    if (!checked.endsRun && !stampRefusal.empty()) {
        checked = RefuseForStamp(settings, std::move(stampRefusal), nullptr);
    }
    std::vector<char*> withDigest(arguments, arguments + argumentCount);
    std::string digestSwitch = "--checked-image";
    std::string digest = checked.digest;
    if (!digest.empty()) {
        withDigest.push_back(digestSwitch.data());
        withDigest.push_back(digest.data());
    }
    withDigest.push_back(nullptr);
    GangStart gang;
    gang.argumentCount = static_cast<int>(withDigest.size() - 1);
    gang.arguments = withDigest.data();
    if (checked.endsRun && checked.status == 0) {
        // --check-only: the image is sound, and each port's record and
        // events say so.
        gang.imageOk = true;
    } else if (checked.endsRun) {
        gang.refusal = RefusalOf(settings, checked.result);
        gang.refusedStatus = checked.status;
    }
    const GangEnd gangEnd = RunGang(gang, settings);
    end.status = gangEnd.status;
    end.interrupt = gangEnd.interrupt;
    return end;
}

// The port lives only as long as this call: by the time an error leaves it,
// the port has been closed and given back.
int RunOnPort(const Settings& settings, PortPlatform& platform, DataFiles& files,
              const BoardImage& image, RunStory& story, ConsoleRecorder* recorder) {
    RunObserver& run = story.Listeners();
    if (!IsUsbPortName(settings.portName)) {
        run.OnPort({platform.DevicePath(settings.portName), std::nullopt, std::nullopt});
    }
    COMPort port(settings.portName, platform);
    PortFacts facts;
    facts.device = port.DevicePath();
    const std::optional<PortInfo> listed = port.DescribeOpenedPort();
    if (listed && !listed->vendorId.empty()) {
        facts.usbId = listed->vendorId + ":" + listed->productId;
        if (!listed->serialNumber.empty()) {
            facts.usbSerial = listed->serialNumber;
        }
    }
    run.OnPort(facts);
    return RunMode(port, settings, files, image, story, recorder);
}

// The first board begins, with its label: asked for before anything is
// opened (a single board's label, and the first of a run of several). A
// single board whose label never came ends the run (outcome no-label, or
// the operator's request); a run of several boards then ends before its
// first board, in order, as when the operator ends it between boards: false.
bool BeginFirstBoard(const Settings& settings, RunStory& story) {
    // --check-only has no board to ask a label for; a given one is recorded.
    BoardLabels* labels =
        settings.checkOnly != 0 && settings.label == nullptr ? nullptr : story.Labels();
    const std::optional<uint32_t> number =
        settings.repeat ? std::optional<uint32_t>(1) : std::nullopt;
    const LabelAnswer answer = labels != nullptr ? labels->ForBoard(number) : LabelAnswer();
    if (labels == nullptr || answer.label) {
        if (!settings.repeat) {
            story.BeginBoard(std::nullopt, answer.label);
        }
        return true;
    }
    if (settings.repeat) {
        ClearInterrupt();
        story.DiscardBoard();
        ShowFormatted(messages::kBoardsInAllFormat, 0u, 0u);
        FlushShown();
        return false;
    }
    if (answer.interrupt != 0) {
        throw InterruptedError(answer.interrupt);
    }
    story.SetPreset(RunOutcome::NoLabel);
    FatalError("%s", messages::kNoLabel);
}

// The run once its command line is accepted: what it consumes opened, the
// first board's label asked for, the image checked, the board's numbers
// prepared, then the mode on its port.
int RunChecked(const Settings& settings, const std::optional<StampPlan>& stampPlan,
               PortPlatform& platform, DataFiles& files, RunStory& story,
               std::unique_ptr<ConsoleRecorder>& recorder) {
    story.Open();
    story.Begin();
    if (!BeginFirstBoard(settings, story)) {
        return 0;
    }
    // The log is opened before the port, so that one that cannot be opened
    // ends the run before the board is touched.
    if (settings.logFile != nullptr || settings.lineStamps != kLineStampsNone) {
        recorder = std::make_unique<ConsoleRecorder>(settings);
    }
    CheckedImage checked = CheckImage(settings, &story.Listeners());
    if (!checked.endsRun && stampPlan) {
        std::vector<ImageFinding> refusal;
        std::unique_ptr<Stamping> stamping =
            PrepareStamping(*stampPlan, settings, story.Listeners(), story.LedgerRunId(), refusal);
        if (!refusal.empty()) {
            checked = RefuseForStamp(settings, std::move(refusal), &story.Listeners());
        } else {
            story.SetStamping(std::move(stamping));
        }
    }
    story.SetPreset(checked.outcome);
    if (checked.endsRun) {
        return checked.status;
    }
    // A gang's run sends the image its gang checked.
    const BoardImage image(
        settings, settings.checkedImage != nullptr ? settings.checkedImage : checked.digest,
        story.Recorded(), story.Listeners());
    const int status = RunOnPort(settings, platform, files, image, story, recorder.get());
    if (files.upload.ReadFailed()) {
        FatalError(messages::kFileReadFailedFormat, settings.dataFile);
    }
    return status;
}

}  // namespace

RunEnd RunProgram(int argumentCount, char** arguments) {
    return RunProgram(argumentCount, arguments, SystemPortPlatform());
}

RunEnd RunProgram(int argumentCount, char** arguments, PortPlatform& platform) {
    Settings settings;
    DataFiles files;
    RunStory story(settings);
    std::unique_ptr<ConsoleRecorder> recorder;
    RunEnd end;
    RunEndKind kind = RunEndKind::Normal;
    try {
        // Before the echo line: a reader of standard output that has gone
        // already is noticed as a request (SIGPIPE), not the program's end.
        // The requests answered while parsing (usage, banners, port list)
        // end before the handlers matter.
        ParseCommandLine(argumentCount, arguments, settings, InstallInterruptHandlers);
        // A yield summary reads records and opens no port.
        if (!settings.yieldSources.empty()) {
            end.status = RunYield(settings);
            return end;
        }
        // Forwards the records of the report file, and opens nothing else.
        if (settings.forwardRecords) {
            const ForwardRecordsEnd forwarded =
                ForwardRecords(settings.reportFile, settings.reportDb);
            return {forwarded.status, forwarded.message};
        }
        // Refused switches of the stamp end the run before anything is
        // opened or recorded.
        const std::optional<StampPlan> stampPlan = ReadStampPlan(settings);
        // A gang downloads to each of its ports in a run of its own, which
        // keeps its own record; this process checks the image and the
        // stamp once and opens no port.
        if (settings.gang != nullptr) {
            std::vector<ImageFinding> stampRefusal;
            if (stampPlan) {
                PrepareStamping(*stampPlan, settings, story.Listeners(), std::nullopt,
                                stampRefusal);
            }
            return RunCheckedGang(argumentCount, arguments, settings, std::move(stampRefusal));
        }
        if (settings.gangMember != nullptr) {
            InterruptWhenParentEnds();
        }
        end.status = RunChecked(settings, stampPlan, platform, files, story, recorder);
    } catch (...) {
        // Anything of no known kind still ends the program abnormally, but
        // only once the stack has been unwound to here, so that the port has
        // been given back first.
        kind = EndOfError(end);
    }
    // A request that came where no transfer noticed it (while the port was
    // being closed, or the file read) ends the run all the same, as it
    // would have without the handlers.
    if (InterruptRequest() != 0) {
        kind = RunEndKind::Interrupted;
        end = {end.status, std::string(), InterruptRequest()};
    }
    story.End(end, kind);
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
