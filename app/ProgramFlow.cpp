#include "app/ProgramFlow.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/CommandLine.h"
#include "app/Gang.h"
#include "app/ImageCheckRun.h"
#include "app/Settings.h"
#include "errors/FatalError.h"
#include "errors/Messages.h"
#include "errors/PortError.h"
#include "errors/ProgramError.h"
#include "protocol/Console.h"
#include "protocol/Downloader.h"
#include "protocol/RawCopy.h"
#include "serial/COMPort.h"
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
                UploadFile& file) {
    if (!file.Open(settings.dataFile)) {
        FatalError(messages::kCannotOpenUploadFormat, settings.dataFile);
    }
    Downloader downloader(file, port, options);
    while (downloader.Step() == 0) {
    }
    return downloader.Failed() ? 1 : 0;
}

// The exit status of the mode, once it has ended normally.
int RunMode(COMPort& port, const Settings& settings, DataFiles& files) {
    const ProtocolOptions options = ToProtocolOptions(settings);
    switch (settings.mode) {
        case ModeConsole:
            RunConsole(port, options);
        case ModeRaw:
            RunRawCopy(port, options, settings.dataFile, files.raw);
            return 0;
        default:
            return RunDownload(port, settings, options, files.upload);
    }
}

// The port lives only as long as this call: by the time an error leaves it,
// the port has been closed and given back.
int RunOnPort(const Settings& settings, PortPlatform& platform, DataFiles& files) {
    COMPort port(settings.portName, platform);
    return RunMode(port, settings, files);
}

RunEnd EndOfPortError(const std::runtime_error& error) {
    const std::string detail = DetailOf(error);
    if (!detail.empty()) {
        return {1,
                FormatText(messages::kErrorOccurredWithDetailFormat, error.what(), detail.c_str())};
    }
    return {1, FormatText(messages::kErrorOccurredFormat, error.what())};
}

}  // namespace

RunEnd RunProgram(int argumentCount, char** arguments) {
    return RunProgram(argumentCount, arguments, SystemPortPlatform());
}

RunEnd RunProgram(int argumentCount, char** arguments, PortPlatform& platform) {
    Settings settings;
    DataFiles files;
    try {
        ParseCommandLine(argumentCount, arguments, settings);
        // The image is checked before the port is opened: a refused one
        // never reaches the board.
        if (settings.checkImage != 0 || settings.checkOnly != 0) {
            const ImageCheckRun check = RunImageCheck(settings.dataFile);
            if (!check.sound || settings.checkOnly != 0) {
                return {check.sound ? 0 : 1, std::string()};
            }
        }
        // A gang downloads to each of its ports in a run of its own; this
        // process opens no port.
        if (settings.gang != nullptr) {
            return {RunGang(argumentCount, arguments, settings), std::string()};
        }
        const int status = RunOnPort(settings, platform, files);
        if (files.upload.ReadFailed()) {
            FatalError(messages::kFileReadFailedFormat, settings.dataFile);
        }
        return {status, std::string()};
    } catch (const ProgramError& error) {
        return {error.Status(), error.what()};
    } catch (const std::runtime_error& error) {
        return EndOfPortError(error);
    } catch (...) {
        // Anything else still ends the program abnormally, but only once the
        // stack has been unwound to here, so that the port has been given
        // back first.
        throw;
    }
}

int EndProgram(const RunEnd& end) {
    std::fflush(stdout);
    if (!end.message.empty()) {
        std::fputs(end.message.c_str(), stderr);
    }
    return end.status;
}
