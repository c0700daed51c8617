#include "text/Sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/text/TempFile.h"

namespace {

using testfiles::TempFile;

// FIPS 180-2 examples.
constexpr const char* kEmptyDigest =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr const char* kAbcDigest =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* kMillionADigest =
    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

TEST(Sha256, GivesTheStandardDigestsInLowerCaseHex) {
    EXPECT_EQ(Sha256Hex("", 0), kEmptyDigest);
    EXPECT_EQ(Sha256Hex("abc", 3), kAbcDigest);
}

TEST(Sha256, DigestOfPiecesEqualsDigestOfTheWhole) {
    Sha256 digest;
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) {
        digest.Update(thousand.data(), i % 2 == 0 ? 1000 : 0);
        digest.Update(thousand.data(), i % 2 == 0 ? 0 : 1000);
    }
    EXPECT_EQ(digest.HexDigest(), kMillionADigest);
}

TEST(Sha256, AFinishedDigestGivesNoSecondOne) {
    Sha256 digest;
    digest.Update("abc", 3);
    EXPECT_EQ(digest.HexDigest(), kAbcDigest);
    digest.Update("abc", 3);
    EXPECT_EQ(digest.HexDigest(), "");
}

TEST(Sha256, FileDigestCoversEveryByteUnchanged) {
    // CR, Ctrl-Z and zero bytes count as they are: the digest is of the
    // file, not of what the upload sends.
    const std::string bytes =
        std::string("abc\r\n\x1a", 6) + std::string(1, '\0') + std::string(200000, 'x');
    TempFile file(bytes);
    EXPECT_EQ(Sha256OfFile(file.Path().c_str()), Sha256Hex(bytes.data(), bytes.size()));
    TempFile empty("");
    EXPECT_EQ(Sha256OfFile(empty.Path().c_str()), kEmptyDigest);
}

TEST(Sha256, MissingFileHasNoDigest) {
    const std::string missing =
        (std::filesystem::path(::testing::TempDir()) / "no_such_image.hex").string();
    EXPECT_FALSE(Sha256OfFile(missing.c_str()).has_value());
}

}  // namespace

TEST(Digest, GivesTheStandardSha1Digests) {
    // FIPS 180-2 examples.
    Digest abc(DigestAlgorithm::Sha1);
    abc.Update("abc", 3);
    const std::vector<unsigned char> bytes = abc.Finish();
    EXPECT_EQ(HexOfDigest(bytes.data(), bytes.size()), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_TRUE(abc.Finish().empty());
    Digest pieces(DigestAlgorithm::Sha1);
    const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    pieces.Update(text.data(), 20);
    pieces.Update(text.data() + 20, text.size() - 20);
    const std::vector<unsigned char> whole = pieces.Finish();
    EXPECT_EQ(HexOfDigest(whole.data(), whole.size()), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}
