#include "app/ProgramFlow.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/ImageCheckRun.h"
#include "errors/FatalError.h"
#include "errors/Messages.h"
#include "errors/PortError.h"
#include "protocol/Console.h"
#include "protocol/Downloader.h"
#include "protocol/RawCopy.h"
#include "serial/COMPort.h"
#include "text/UploadFile.h"

namespace {

// The data files of a run; closed after the port, whatever the mode.
struct DataFiles {
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

}  // namespace

int RunProgram(const Settings& settings) {
    return RunProgram(settings, SystemPortPlatform());
}

int RunProgram(const Settings& settings, PortPlatform& platform) {
    // The image is checked before the port is opened: a refused one never
    // reaches the board.
    if (settings.checkImage != 0 || settings.checkOnly != 0) {
        const ImageCheckRun check = RunImageCheck(settings.dataFile);
        if (!check.sound || settings.checkOnly != 0) {
            return check.sound ? 0 : 1;
        }
    }
    DataFiles files;
    int status = 0;
    try {
        COMPort port(settings.portName, platform);
        status = RunMode(port, settings, files);
    } catch (const std::runtime_error& error) {
        const std::string detail = DetailOf(error);
        if (!detail.empty()) {
            FatalError(messages::kErrorOccurredWithDetailFormat, error.what(), detail.c_str());
        }
        FatalError(messages::kErrorOccurredFormat, error.what());
    }
    if (files.upload.ReadFailed()) {
        FatalError(messages::kFileReadFailedFormat, settings.dataFile);
    }
    files.upload.Close();
    if (files.raw != nullptr) {
        std::fclose(files.raw);
    }
    return status;
}
