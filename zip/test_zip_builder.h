// Builds ZIP bytes for tests, field by field, independently of the record classes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zipkit::testing {

inline std::string Le16(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

struct ZipEntry {
  ZipEntry(std::string Name = "", std::string Data = "")
      : name(std::move(Name)), data(std::move(Data)) {}

  std::string name;
  std::string data;  // stored as is
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;  // not checked by loading
  uint16_t disk = 0;
  uint32_t external = 0x20;
  std::string extra;
  std::string comment;
  uint16_t time = 0x6000;
  uint16_t date = 0x5A21;
};

inline std::string LocalHeader(const ZipEntry& e) {
  return Le32(0x04034B50) + Le16(20) + Le16(e.flags) + Le16(e.method) + Le16(e.time) +
         Le16(e.date) + Le32(e.crc) + Le32(static_cast<uint32_t>(e.data.size())) +
         Le32(static_cast<uint32_t>(e.data.size())) + Le16(static_cast<uint32_t>(e.name.size())) +
         Le16(static_cast<uint32_t>(e.extra.size())) + e.name + e.extra;
}

inline std::string CentralHeader(const ZipEntry& e, uint32_t offset) {
  return Le32(0x02014B50) + Le16(0x0314) + Le16(20) + Le16(e.flags) + Le16(e.method) +
         Le16(e.time) + Le16(e.date) + Le32(e.crc) + Le32(static_cast<uint32_t>(e.data.size())) +
         Le32(static_cast<uint32_t>(e.data.size())) + Le16(static_cast<uint32_t>(e.name.size())) +
         Le16(static_cast<uint32_t>(e.extra.size())) +
         Le16(static_cast<uint32_t>(e.comment.size())) + Le16(e.disk) + Le16(0) + Le32(e.external) +
         Le32(offset) + e.name + e.extra + e.comment;
}

struct EndFields {
  uint16_t disk = 0;
  uint16_t start_disk = 0;
  uint16_t entries_on_disk = 0;
  uint16_t total = 0;
  uint32_t size = 0;
  uint32_t offset = 0;
  std::string comment;
  int32_t comment_length = -1;  // -1: the comment's own length
};

inline std::string EndRecord(const EndFields& f) {
  const uint32_t length = f.comment_length >= 0 ? static_cast<uint32_t>(f.comment_length)
                                                : static_cast<uint32_t>(f.comment.size());
  return Le32(0x06054B50) + Le16(f.disk) + Le16(f.start_disk) + Le16(f.entries_on_disk) +
         Le16(f.total) + Le32(f.size) + Le32(f.offset) + Le16(length) + f.comment;
}

// A single-volume archive behind Stub (whose length the offsets count).
inline std::string BuildZip(const std::vector<ZipEntry>& entries, const std::string& comment = "",
                            const std::string& stub = "") {
  std::string out = stub;
  std::string directory;
  for (const ZipEntry& e : entries) {
    directory += CentralHeader(e, static_cast<uint32_t>(out.size()));
    out += LocalHeader(e) + e.data;
  }
  EndFields end;
  end.entries_on_disk = end.total = static_cast<uint16_t>(entries.size());
  end.size = static_cast<uint32_t>(directory.size());
  end.offset = static_cast<uint32_t>(out.size());
  end.comment = comment;
  return out + directory + EndRecord(end);
}

}  // namespace zipkit::testing
