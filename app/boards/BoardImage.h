#pragma once
// BoardImage: the data file as one board gets it. With --report or a checked
// image (--check), each board's download is sent from the bytes read here,
// into memory, once per board, so that the board's record describes exactly
// what the board got (file_bytes, file_sha256: of the data after a leading
// byte-order mark, the same digest --check shows), and so that a board is
// never sent an image other than the one that was checked: when the file
// has changed since its check, the board's run fails before anything is
// sent ("Error: %s is no longer the image that was checked\n" on standard
// error, status 1, outcome image-changed: ImageChangedError). With
// --image-sha256 every board's data must have that digest: other data ends
// the run the same way, its message and the record's finding being the
// digest's ("FILE: SHA-256 is X, not the expected Y"). Without any of these,
// the download reads the file as it goes, as it always has.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/RunObserver.h"
#include "app/Settings.h"
#include "errors/ProgramError.h"
#include "text/UploadFile.h"

// The data file is no longer the image that was checked.
class ImageChangedError : public ProgramError {
  public:
    using ProgramError::ProgramError;
};

class BoardImage {
  public:
    // checkedDigest: the SHA-256 of the image the run checked, or empty when
    // it checked none (or the digest is unknown). recorded: the board's
    // record is made, so run hears of the data each board gets (OnImage).
    BoardImage(const Settings& settings, std::string checkedDigest, bool recorded,
               RunObserver& run);

    // Opens the data file for the next board's download into file. Ends the
    // run through FatalError when the file cannot be opened ("Can't open
    // file %s for upload\n"), cannot be read ("Error reading file %s\n"), or
    // is no longer the image checked (see above).
    void OpenFor(UploadFile& file) const;

  private:
    // Ends the run: the data read has digest, not the one expected.
    [[noreturn]] void Refuse(const std::string& digest) const;

    const Settings& settings;
    std::string checkedDigest;
    bool recorded;
    RunObserver& run;
};

// The data of the file at path as the download reads it (after a leading
// byte-order mark), its length and its SHA-256 (empty when the crypto
// library fails). With keepBytes false the data is only measured (bytes
// stays empty), never held in memory.
struct ImageBytes {
    std::shared_ptr<const std::string> bytes;
    int64_t length = 0;
    std::string sha256;
};
enum class ImageRead { Read, CannotOpen, ReadFailed };
ImageRead ReadImageBytes(const char* path, ImageBytes& image, bool keepBytes = true);
