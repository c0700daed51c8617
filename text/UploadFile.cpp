#include "text/UploadFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kEndOfFileMark = 0x1A;

// The bytes that reading treats specially all lie at or below the mark.
inline bool IsOrdinary(uint8_t byte) {
    return byte > kEndOfFileMark || (byte != kLf && byte != kCr && byte != kEndOfFileMark);
}

int64_t MeasureSize(const char* path) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<int64_t>(bytes);
}

}  // namespace

UploadFile::UploadFile(size_t readBytes) : blockBytes(std::max<size_t>(readBytes, 1)) {}

UploadFile::~UploadFile() {
    Close();
}

bool UploadFile::Open(const char* path) {
    Close();
    std::error_code error;
    if (path == nullptr || std::filesystem::is_directory(path, error)) {
        return false;
    }
    file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    // Reads go straight into our own block; a stdio buffer would only copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    if (!block) {
        // Room for the byte-order mark in the first block, however small
        // the reads.
        block = std::make_unique<uint8_t[]>(std::max(blockBytes, kUtf8ByteOrderMarkBytes));
    }
    size = MeasureSize(path);
    return true;
}

void UploadFile::OpenBytes(std::shared_ptr<const std::string> bytes) {
    Close();
    if (!block) {
        block = std::make_unique<uint8_t[]>(std::max(blockBytes, kUtf8ByteOrderMarkBytes));
    }
    size = bytes != nullptr ? static_cast<int64_t>(bytes->size()) : 0;
    memory = bytes != nullptr ? std::move(bytes) : std::make_shared<const std::string>();
}

void UploadFile::Close() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    memory.reset();
    memoryPos = 0;
    blockFill = 0;
    blockPos = 0;
    blockStart = 0;
    size = 0;
    endOfData = false;
    readFailed = false;
    markSeen = false;
}

bool UploadFile::IsOpen() const {
    return file != nullptr || memory != nullptr;
}

size_t UploadFile::ReadSource(uint8_t* into, size_t count) {
    if (memory == nullptr) {
        return std::fread(into, 1, count, file);
    }
    const size_t taken = std::min(count, memory->size() - memoryPos);
    std::memcpy(into, memory->data() + memoryPos, taken);
    memoryPos += taken;
    return taken;
}

int64_t UploadFile::Size() const {
    return size;
}

bool UploadFile::ReadFailed() const {
    return readFailed;
}

int64_t UploadFile::Position() const {
    return blockStart + static_cast<int64_t>(blockPos);
}

// A short read followed by an empty one covers both the end of the file and
// a read failure; either ends the data.
bool UploadFile::Refill() {
    blockStart += static_cast<int64_t>(blockFill);
    blockPos = 0;
    blockFill = ReadSource(block.get(), blockBytes);
    if (!markSeen) {
        SkipByteOrderMark();
    }
    if (blockObserver && blockFill > blockPos) {
        blockObserver(block.get() + blockPos, blockFill - blockPos);
    }
    if (blockFill == 0) {
        readFailed = file != nullptr && std::ferror(file) != 0;
        endOfData = true;
        return false;
    }
    return true;
}

// The first block holds at least the mark's three bytes when the file has
// them, also when reads are smaller (a pipe may hand them over one by one).
void UploadFile::SkipByteOrderMark() {
    markSeen = true;
    while (blockFill < kUtf8ByteOrderMarkBytes) {
        const size_t more = ReadSource(block.get() + blockFill, kUtf8ByteOrderMarkBytes - blockFill);
        if (more == 0) {
            break;
        }
        blockFill += more;
    }
    if (blockFill >= kUtf8ByteOrderMarkBytes &&
        std::memcmp(block.get(), kUtf8ByteOrderMark, kUtf8ByteOrderMarkBytes) == 0) {
        blockPos = kUtf8ByteOrderMarkBytes;
    }
}

void UploadFile::ObserveBlocks(BlockObserver observer) {
    blockObserver = std::move(observer);
}

bool UploadFile::ReadRest() {
    if (!IsOpen()) {
        return false;
    }
    blockPos = blockFill;
    while (!readFailed && Refill()) {
        blockPos = blockFill;
    }
    return !readFailed;
}

bool UploadFile::TakeByte(uint8_t& byte) {
    if (blockPos == blockFill && !Refill()) {
        return false;
    }
    byte = block[blockPos++];
    return true;
}

size_t UploadFile::CopyOrdinary(char* out, size_t limit) {
    const uint8_t* begin = block.get() + blockPos;
    const uint8_t* end = begin + std::min(blockFill - blockPos, limit);
    const uint8_t* at = begin;
    while (at != end && IsOrdinary(*at)) {
        ++at;
    }
    const auto count = static_cast<size_t>(at - begin);
    std::memcpy(out, begin, count);
    blockPos += count;
    return count;
}

size_t UploadFile::ReadLine(char* buffer, size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    buffer[0] = '\0';
    if (!IsOpen() || endOfData || capacity < 2) {
        return 0;
    }
    const size_t room = capacity - 1;
    size_t stored = 0;
    uint8_t byte = 0;
    while (stored < room) {
        if (blockPos == blockFill && !Refill()) {
            break;
        }
        stored += CopyOrdinary(buffer + stored, room - stored);
        if (stored == room || !TakeByte(byte)) {
            break;
        }
        if (byte == kEndOfFileMark) {
            break;
        }
        if (byte == kCr && !TakeByte(byte)) {
            break;  // a CR as the last byte of the file
        }
        buffer[stored++] = static_cast<char>(byte);
        if (byte == kLf) {
            break;
        }
    }
    buffer[stored] = '\0';
    endOfData = endOfData || stored == 0;
    return stored;
}

size_t PrepareRecordLine(char* buffer, size_t length) {
    const bool endsInLf = length >= 1 && buffer[length - 1] == '\n';
    const bool hasCr = length >= 2 && buffer[length - 2] == '\r';
    if (endsInLf && !hasCr && length <= kMaxCrLfLineChars) {
        buffer[length - 1] = '\r';
        buffer[length] = '\n';
        ++length;
    } else if (!endsInLf && length >= 1 && length < kUploadLineBytes - 1) {
        buffer[length++] = '\r';
        buffer[length++] = '\n';
    }
    buffer[length] = '\0';
    return length;
}
