#include "app/boards/BoardImage.h"

#include <utility>

#include "app/check/ImageCheckRun.h"
#include "errors/FatalError.h"
#include "errors/FormatText.h"
#include "protocol/ProtocolMessages.h"
#include "text/Sha256.h"

namespace {

constexpr const char* kImageChangedFormat = "Error: %s is no longer the image that was checked\n";

}  // namespace

ImageRead ReadImageBytes(const char* path, ImageBytes& image, bool keepBytes) {
    UploadFile file;
    if (!file.Open(path)) {
        return ImageRead::CannotOpen;
    }
    auto bytes = std::make_shared<std::string>();
    // Taken in one piece, not grown block by block.
    if (keepBytes && file.Size() > 0) {
        bytes->reserve(static_cast<size_t>(file.Size()));
    }
    int64_t length = 0;
    Sha256 digest;
    file.ObserveBlocks([&](const uint8_t* block, size_t count) {
        if (keepBytes) {
            bytes->append(reinterpret_cast<const char*>(block), count);
        }
        length += static_cast<int64_t>(count);
        digest.Update(block, count);
    });
    if (!file.ReadRest() || file.ReadFailed()) {
        return ImageRead::ReadFailed;
    }
    image.sha256 = digest.HexDigest();
    image.length = length;
    image.bytes = keepBytes ? std::move(bytes) : nullptr;
    return ImageRead::Read;
}

BoardImage::BoardImage(const Settings& runSettings, std::string digest, bool boardRecorded,
                       RunObserver& runObserver)
    : settings(runSettings),
      checkedDigest(std::move(digest)),
      recorded(boardRecorded),
      run(runObserver) {}

void BoardImage::OpenFor(UploadFile& file) const {
    const std::string& expected =
        settings.imageSha256.empty() ? checkedDigest : settings.imageSha256;
    if (!recorded && expected.empty()) {
        if (!file.Open(settings.dataFile)) {
            FatalError(messages::kCannotOpenUploadFormat, settings.dataFile);
        }
        return;
    }
    ImageBytes image;
    switch (ReadImageBytes(settings.dataFile, image)) {
        case ImageRead::CannotOpen:
            FatalError(messages::kCannotOpenUploadFormat, settings.dataFile);
        case ImageRead::ReadFailed:
            FatalError(messages::kFileReadFailedFormat, settings.dataFile);
        case ImageRead::Read:
            break;
    }
    if (recorded) {
        run.OnImage(image.length, image.sha256);
    }
    if (!expected.empty() && image.sha256 != expected) {
        Refuse(image.sha256);
    }
    file.OpenBytes(image.bytes);
}

void BoardImage::Refuse(const std::string& digest) const {
    if (settings.imageSha256.empty()) {
        throw ImageChangedError(FormatText(kImageChangedFormat, settings.dataFile), 1);
    }
    // Refused as the image was refused before the first board, with the
    // same finding.
    const std::string finding =
        ImageFindingLine(settings.dataFile, DigestFinding(digest, settings.imageSha256));
    run.OnImageRefused({finding, {finding}});
    throw ImageChangedError(finding + "\n", 1);
}
