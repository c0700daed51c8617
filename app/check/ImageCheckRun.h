#pragma once
// The image check of a run (--check, --check-only): checks the data file
// before any port is opened and tells the result.
//
// A refused image: each finding kept on standard error as "FILE:LINE:
// message" (or "FILE: message" for the file as a whole), "... and N more
// findings" when there were more, then "FILE: image refused: N findings".
// A sound image: one line on standard output, "FILE: image OK: ..." with its
// records, data bytes, address ranges, start address and SHA-256.

#include <cstdint>
#include <string>

#include "text/ImageCheck.h"

struct ImageCheckRun {
    bool sound = false;
    ImageCheckResult result;
};

// Checks dataFile, whose addresses count units of wordBytes bytes
// (--word-size), and prints the result as above. A file that cannot be
// opened ends the program as a download does: "Can't open file %s for
// upload\n" on standard error, status 1.
ImageCheckRun RunImageCheck(const char* dataFile, uint32_t wordBytes = 1);

// --image-sha256: the SHA-256 of dataFile's data as a board gets it
// (app/boards/BoardImage.h) against expected (lower case). A match prints
// nothing; any other digest is refused as the check refuses an image, with
// the one finding "SHA-256 is X, not the expected Y" (DigestFinding). A file
// that cannot be opened or read ends the program as a download does.
ImageCheckRun RunImageDigestCheck(const char* dataFile, const std::string& expected);
// The finding of a digest that is not the one expected; digest empty:
// unknown (the crypto library failed).
ImageFinding DigestFinding(const std::string& digest, const std::string& expected);

// The texts printed for a result: the findings with the refusal line (for
// standard error), and the line of a sound image (for standard output).
std::string ImageFindingsText(const char* dataFile, const ImageCheckResult& result);
// A finding as shown, and the refusal's summary line, each without its line
// end.
std::string ImageFindingLine(const char* dataFile, const ImageFinding& finding);
std::string ImageRefusedLine(const char* dataFile, const ImageCheckResult& result);
std::string ImageOkLine(const char* dataFile, const ImageCheckResult& result);

// Address ranges shown on the line of a sound image; the rest are counted.
inline constexpr size_t kShownImageRanges = 8;
