#include "app/check/ImageCheckRun.h"

#include <cstdio>
#include <vector>

#include "app/boards/BoardImage.h"
#include "app/check/CheckMessages.h"
#include "errors/FatalError.h"
#include "protocol/ProtocolMessages.h"
#include "text/Shown.h"

namespace {

const char* Findings(long long count) {
    return count == 1 ? "finding" : "findings";
}

std::string RangesText(const std::vector<AddressRange>& ranges, uint32_t wordBytes) {
    std::string text;
    for (size_t i = 0; i < ranges.size() && i < kShownImageRanges; ++i) {
        text += (i == 0 ? "" : " ") + FormatText(messages::kImageRangeFormat,
                                                 static_cast<unsigned>(ranges[i].first),
                                                 static_cast<unsigned>(ranges[i].last));
    }
    if (ranges.size() > kShownImageRanges) {
        text += FormatText(messages::kImageMoreRangesFormat,
                           static_cast<long long>(ranges.size() - kShownImageRanges));
    }
    if (wordBytes > 1) {
        text += FormatText(messages::kImageWordAddressesFormat, 8 * wordBytes);
    }
    return text;
}

std::string StartText(const ImageCheckResult& result) {
    switch (result.startKind) {
        case StartAddressKind::Segment:
            return FormatText(messages::kImageStartSegmentFormat,
                              static_cast<unsigned>(result.startAddress >> 16),
                              static_cast<unsigned>(result.startAddress & 0xFFFF));
        case StartAddressKind::Linear:
            return FormatText(messages::kImageStartLinearFormat,
                              static_cast<unsigned>(result.startAddress));
        default:
            return messages::kImageNoStartAddress;
    }
}

}  // namespace

std::string ImageFindingLine(const char* dataFile, const ImageFinding& finding) {
    const std::string line =
        finding.line == 0
            ? FormatText(messages::kImageFileFindingFormat, dataFile, finding.message.c_str())
            : FormatText(messages::kImageFindingFormat, dataFile,
                         static_cast<long long>(finding.line), finding.message.c_str());
    return line.substr(0, line.size() - 1);
}

std::string ImageRefusedLine(const char* dataFile, const ImageCheckResult& result) {
    const auto count = static_cast<long long>(result.findingCount);
    const std::string line =
        FormatText(messages::kImageRefusedFormat, dataFile, count, Findings(count));
    return line.substr(0, line.size() - 1);
}

std::string ImageFindingsText(const char* dataFile, const ImageCheckResult& result) {
    std::string text;
    for (const ImageFinding& finding : result.findings) {
        text += ImageFindingLine(dataFile, finding) + "\n";
    }
    const auto count = static_cast<long long>(result.findingCount);
    const auto rest = count - static_cast<long long>(result.findings.size());
    if (rest > 0) {
        text += FormatText(messages::kImageMoreFindingsFormat, rest, Findings(rest));
    }
    return text + ImageRefusedLine(dataFile, result) + "\n";
}

std::string ImageOkLine(const char* dataFile, const ImageCheckResult& result) {
    const std::string digest =
        result.sha256.empty() ? messages::kImageDigestUnknown : result.sha256;
    const auto skipped = static_cast<long long>(result.skippedLines);
    const std::string skippedText = skipped == 0
                                        ? std::string()
                                        : FormatText(messages::kImageLinesSkippedFormat, skipped,
                                                     skipped == 1 ? "line" : "lines");
    return FormatText(messages::kImageOkFormat, dataFile, static_cast<long long>(result.records),
                      skippedText.c_str(), static_cast<long long>(result.dataBytes),
                      RangesText(result.ranges, result.wordBytes).c_str(),
                      StartText(result).c_str(), digest.c_str());
}

ImageCheckRun RunImageCheck(const char* dataFile, uint32_t wordBytes) {
    ImageCheckRun run;
    run.result = CheckImageFile(dataFile, kKeptImageFindings, wordBytes);
    if (!run.result.opened) {
        FatalError(messages::kCannotOpenUploadFormat, dataFile);
    }
    run.sound = run.result.Sound();
    if (run.sound) {
        Show(ImageOkLine(dataFile, run.result).c_str());
    } else {
        FlushShown();
        std::fputs(ImageFindingsText(dataFile, run.result).c_str(), stderr);
    }
    FlushShown();
    return run;
}

ImageFinding DigestFinding(const std::string& digest, const std::string& expected) {
    ImageFinding finding;
    finding.message = FormatText(messages::kImageDigestFindingFormat,
                                 digest.empty() ? messages::kImageDigestUnknown : digest.c_str(),
                                 expected.c_str());
    return finding;
}

ImageCheckRun RunImageDigestCheck(const char* dataFile, const std::string& expected) {
    ImageBytes image;
    switch (ReadImageBytes(dataFile, image)) {
        case ImageRead::CannotOpen:
            FatalError(messages::kCannotOpenUploadFormat, dataFile);
        case ImageRead::ReadFailed:
            FatalError(messages::kFileReadFailedFormat, dataFile);
        case ImageRead::Read:
            break;
    }
    ImageCheckRun run;
    run.result.opened = true;
    run.result.sha256 = image.sha256;
    run.sound = image.sha256 == expected;
    if (!run.sound) {
        run.result.findings.push_back(DigestFinding(image.sha256, expected));
        run.result.findingCount = 1;
        FlushShown();
        std::fputs(ImageFindingsText(dataFile, run.result).c_str(), stderr);
    }
    return run;
}
