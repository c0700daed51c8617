#include "app/boards/BoardImage.h"

#include <utility>

#include "errors/FatalError.h"
#include "errors/FormatText.h"
#include "protocol/ProtocolMessages.h"
#include "text/Sha256.h"

namespace {

constexpr const char* kImageChangedFormat = "Error: %s is no longer the image that was checked\n";

}  // namespace

ImageRead ReadImageBytes(const char* path, ImageBytes& image) {
    UploadFile file;
    if (!file.Open(path)) {
        return ImageRead::CannotOpen;
    }
    auto bytes = std::make_shared<std::string>();
    Sha256 digest;
    file.ObserveBlocks([&](const uint8_t* block, size_t count) {
        bytes->append(reinterpret_cast<const char*>(block), count);
        digest.Update(block, count);
    });
    if (!file.ReadRest() || file.ReadFailed()) {
        return ImageRead::ReadFailed;
    }
    image.sha256 = digest.HexDigest();
    image.bytes = std::move(bytes);
    return ImageRead::Read;
}

BoardImage::BoardImage(const Settings& runSettings, std::string digest, bool boardRecorded,
                       RunObserver& runObserver)
    : settings(runSettings),
      checkedDigest(std::move(digest)),
      recorded(boardRecorded),
      run(runObserver) {}

void BoardImage::OpenFor(UploadFile& file) const {
    if (!recorded && checkedDigest.empty()) {
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
        run.OnImage(static_cast<int64_t>(image.bytes->size()), image.sha256);
    }
    if (!checkedDigest.empty() && image.sha256 != checkedDigest) {
        throw ImageChangedError(FormatText(kImageChangedFormat, settings.dataFile), 1);
    }
    file.OpenBytes(image.bytes);
}
