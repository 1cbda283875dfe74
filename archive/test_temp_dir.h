// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace zipkit::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zipkit_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& Name) const { return path_ + "/" + Name; }

  // Writes Bytes to the file Name in this folder; returns its path.
  std::string Write(const std::string& Name, const std::string& Bytes) const {
    const std::string path = *this / Name;
    std::ofstream(path, std::ios::binary) << Bytes;
    return path;
  }
  std::string Read(const std::string& Name) const {
    std::ifstream in(*this / Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

}  // namespace zipkit::testing
