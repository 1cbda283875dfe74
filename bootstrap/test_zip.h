// Small ZIP archives for the install sequence's tests: stored entries with chosen names, data
// and DOS time stamps, written byte by byte so that a test can also break an entry's CRC-32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipkit::testing {

struct TTestEntry {
  std::string Name;  // "/" between folders; a trailing "/" makes a folder entry
  std::string Data;
  uint16_t Time = 0x4C41;  // 09:34:02
  uint16_t Date = 0x5861;  // 2024-03-01
  bool BadCrc = false;     // store a CRC-32 that does not match the data
};

inline uint32_t TestCrc32(const std::string& Data) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : Data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

inline std::vector<uint8_t> TestZip(const std::vector<TTestEntry>& Entries) {
  std::vector<uint8_t> out, central;
  auto put = [](std::vector<uint8_t>& to, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to.push_back(uint8_t(value >> (8 * i)));
  };
  auto text = [](std::vector<uint8_t>& to, const std::string& s) {
    to.insert(to.end(), s.begin(), s.end());
  };
  for (const TTestEntry& e : Entries) {
    const uint32_t crc = TestCrc32(e.Data) ^ (e.BadCrc ? 0x5A5A5A5A : 0);
    const uint32_t offset = uint32_t(out.size());
    const uint32_t size = uint32_t(e.Data.size());
    put(out, 0x04034B50, 4);
    put(out, 10, 2);  // version needed
    put(out, 0, 2);   // flags
    put(out, 0, 2);   // stored
    put(out, e.Time, 2);
    put(out, e.Date, 2);
    put(out, crc, 4);
    put(out, size, 4);
    put(out, size, 4);
    put(out, uint32_t(e.Name.size()), 2);
    put(out, 0, 2);
    text(out, e.Name);
    text(out, e.Data);

    put(central, 0x02014B50, 4);
    put(central, 20, 2);  // made by DOS
    put(central, 10, 2);
    put(central, 0, 2);
    put(central, 0, 2);
    put(central, e.Time, 2);
    put(central, e.Date, 2);
    put(central, crc, 4);
    put(central, size, 4);
    put(central, size, 4);
    put(central, uint32_t(e.Name.size()), 2);
    put(central, 0, 2);  // extra
    put(central, 0, 2);  // comment
    put(central, 0, 2);  // disk
    put(central, 0, 2);  // internal attributes
    put(central, e.Name.ends_with("/") ? 0x10 : 0x20, 4);
    put(central, offset, 4);
    text(central, e.Name);
  }
  const uint32_t central_at = uint32_t(out.size());
  out.insert(out.end(), central.begin(), central.end());
  put(out, 0x06054B50, 4);
  put(out, 0, 2);
  put(out, 0, 2);
  put(out, uint32_t(Entries.size()), 2);
  put(out, uint32_t(Entries.size()), 2);
  put(out, uint32_t(central.size()), 4);
  put(out, central_at, 4);
  put(out, 0, 2);
  return out;
}

}  // namespace zipkit::testing
