// Temporary directories and whole-file reads and writes for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace test_support {

// A fresh directory under the system's temporary directory, removed with its contents.
class temp_dir {
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  private:
    std::string path_;
};

// The whole file as bytes; nullopt when it cannot be read.
std::optional<std::string> read_file(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);
bool file_exists(const std::string& path);

// The little-endian int32 at offset of bytes.
std::int32_t int32_at(std::string_view bytes, std::size_t offset);
// Offset of slot n of record i in a settings file.
constexpr std::size_t slot_offset(int record, int slot) {
    return 80u * record + 32u + 4u * slot;
}

}  // namespace test_support
