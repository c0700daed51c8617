#pragma once
// A file with the given bytes in the test's temporary directory, named after
// the running test, removed when the object goes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace testfiles {

class TempFile {
  public:
    explicit TempFile(const std::string& bytes) {
        static int serial = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = std::filesystem::path(::testing::TempDir()) /
               (std::string("upload_") + info->name() + "_" + std::to_string(++serial) + ".hex");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    std::string Path() const { return path.string(); }

  private:
    std::filesystem::path path;
};

}  // namespace testfiles
