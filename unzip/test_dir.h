// A fresh temporary folder for a test, removed with everything in it afterwards. Path() is in
// the engine's form ("\" between folders).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zipkit::testing {

class TestDir {
 public:
  TestDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zipkit-XXXXXX").string();
    native_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TestDir() {
    std::error_code ec;
    // Give back write access that a test took away, so that everything can be removed.
    for (auto& e : std::filesystem::recursive_directory_iterator(native_, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(native_, ec);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  // The folder, or a path below it, in the engine's form.
  std::string Path(const std::string& Rel = "") const {
    std::string p = native_ + (Rel.empty() ? "" : "/" + Rel);
    for (char& c : p)
      if (c == '/') c = '\\';
    return p;
  }
  std::filesystem::path Native(const std::string& Rel = "") const {
    return Rel.empty() ? std::filesystem::path(native_) : std::filesystem::path(native_) / Rel;
  }

  void Write(const std::string& Rel, const std::vector<uint8_t>& Bytes) const {
    std::ofstream(Native(Rel), std::ios::binary)
        .write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  }
  std::string Read(const std::string& Rel) const {
    std::ifstream in(Native(Rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& Rel) const { return std::filesystem::exists(Native(Rel)); }
  // Every file below the folder, as paths relative to it.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::recursive_directory_iterator(native_))
      if (!e.is_directory()) out.push_back(std::filesystem::relative(e.path(), native_).string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string native_;
};

}  // namespace zipkit::testing
