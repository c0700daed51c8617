#include "protocol/RawCopy.h"

#include <array>
#include <cstdint>

#include "errors/FatalError.h"
#include "protocol/ProtocolMessages.h"
#include "serial/PortPlatform.h"
#include "text/Shown.h"

namespace {

// Shows what the board has sent so far; block is the copy's own buffer.
void EchoPass(COMPort& port, std::array<uint8_t, kRawBlockBytes>& block) {
    bool shown = false;
    for (;;) {
        const uint32_t count = port.Read(block.data(), kRawBlockBytes);
        if (count == 0) {
            break;
        }
        ShowBytes(reinterpret_cast<const char*>(block.data()), count);
        shown = true;
    }
    if (shown) {
        std::fflush(stdout);
    }
}

}  // namespace

int RawCopy(std::FILE* stream, COMPort& port) {
    std::array<uint8_t, kRawBlockBytes> block{};
    while (!std::feof(stream)) {
        const size_t count = std::fread(block.data(), 1, kRawBlockBytes, stream);
        if (count > 0) {
            port.Write(block.data(), static_cast<uint32_t>(count));
        }
        EchoPass(port, block);
        if (std::ferror(stream)) {
            return -1;
        }
    }
    return 0;
}

void RunRawCopy(COMPort& port, const ProtocolOptions& options, const char* dataFile,
                std::FILE*& stream) {
    port.Configure(options.baudRate, kRawConfigureTimeoutMs);
    port.SetReadTimeouts(kReadIntervalReturnAtOnce, 0, 0);
    stream = std::fopen(dataFile, "rb");
    if (stream == nullptr) {
        FatalError(messages::kCannotOpenUploadFormat, dataFile);
    }
    if (RawCopy(stream, port) != 0) {
        FatalError(messages::kFileReadFailedFormat, dataFile);
    }
}
