// The upload-file reader and record preparation fed arbitrary files, read
// the way the download reads them, checked against model::SentRecords. The
// first byte chooses the size of the reader's blocks, so that lines and CR
// pairs cross block boundaries.

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/Check.h"
#include "fuzz/Models.h"
#include "fuzz/ScratchFile.h"
#include "text/UploadFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static const size_t kBlocks[] = {1, 2, 3, 7, 64, 4096, UploadFile::kBlockBytes};
    const size_t block = kBlocks[data[0] % (sizeof kBlocks / sizeof kBlocks[0])];
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const std::string path = ScratchPath("upload");
    WriteScratch(path, content);

    UploadFile file(block);
    FUZZ_CHECK(file.Open(path.c_str()), "open");
    FUZZ_CHECK(file.Size() == static_cast<int64_t>(content.size()), "size");
    std::vector<std::string> sent;
    // Exactly the download's buffer: what the reader and the preparation may
    // touch, and not a byte more, so that the address checker sees overruns.
    std::vector<char> line(kUploadLineBytes + 1);
    for (;;) {
        size_t length = file.ReadLine(line.data(), kUploadLineBytes);
        if (length == 0) {
            break;
        }
        FUZZ_CHECK(length < kUploadLineBytes, "read of " << length);
        length = PrepareRecordLine(line.data(), length);
        FUZZ_CHECK(line[length] == '\0', "terminator");
        if (line[0] == ':') {
            sent.emplace_back(line.data(), length);
        }
    }
    size_t consumed = 0;
    const std::vector<std::string> expected =
        model::SentRecords(content, kUploadLineBytes, &consumed);
    FUZZ_CHECK(sent.size() == expected.size(),
               "records: " << sent.size() << " sent, " << expected.size() << " expected");
    for (size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(sent[i] == expected[i], "record " << i);
    }
    FUZZ_CHECK(file.Position() == static_cast<int64_t>(consumed),
               "position " << file.Position() << ", expected " << consumed);
    FUZZ_CHECK(file.ReadLine(line.data(), kUploadLineBytes) == 0, "read after the end");
    return 0;
}
