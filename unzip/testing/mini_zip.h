// Test tool: just enough ZIP to reach the entries of well-formed archives (end record, central
// directory, local header) and to write a one-entry archive around compressed data that a test
// encoder made, for other tools to check. Not for hostile input.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace zipkit::testing {

inline uint32_t Crc32(const uint8_t* Data, size_t Size, uint32_t Crc = 0) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  Crc = ~Crc;
  for (size_t i = 0; i < Size; ++i) Crc = table[(Crc ^ Data[i]) & 0xFF] ^ (Crc >> 8);
  return ~Crc;
}
inline uint32_t Crc32(const std::vector<uint8_t>& Data) { return Crc32(Data.data(), Data.size()); }

inline std::vector<uint8_t> ReadFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot open " + Path);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct MiniEntry {
  std::string name;
  uint16_t flags;
  uint16_t method;
  uint32_t crc;
  uint32_t packed;
  uint32_t unpacked;
  const uint8_t* data;  // the compressed bytes inside the archive buffer
};

inline uint32_t Le(const std::vector<uint8_t>& B, size_t At, int Bytes) {
  if (At + Bytes > B.size()) throw std::runtime_error("record runs past the end");
  uint32_t v = 0;
  for (int i = Bytes - 1; i >= 0; --i) v = (v << 8) | B[At + i];
  return v;
}

// The entries of a single-volume archive, in central directory order.
inline std::vector<MiniEntry> ReadEntries(const std::vector<uint8_t>& Zip) {
  if (Zip.size() < 22) throw std::runtime_error("too short");
  size_t end = Zip.size() - 22;
  while (Le(Zip, end, 4) != 0x06054b50) {
    if (end == 0) throw std::runtime_error("no end record");
    --end;
  }
  const uint32_t count = Le(Zip, end + 10, 2);
  size_t at = Le(Zip, end + 16, 4);
  std::vector<MiniEntry> out;
  for (uint32_t i = 0; i < count; ++i) {
    if (Le(Zip, at, 4) != 0x02014b50) throw std::runtime_error("bad central record");
    MiniEntry e;
    e.flags = static_cast<uint16_t>(Le(Zip, at + 8, 2));
    e.method = static_cast<uint16_t>(Le(Zip, at + 10, 2));
    e.crc = Le(Zip, at + 16, 4);
    e.packed = Le(Zip, at + 20, 4);
    e.unpacked = Le(Zip, at + 24, 4);
    const uint32_t name_len = Le(Zip, at + 28, 2);
    const uint32_t extra_len = Le(Zip, at + 30, 2);
    const uint32_t comment_len = Le(Zip, at + 32, 2);
    const uint32_t local = Le(Zip, at + 42, 4);
    e.name.assign(reinterpret_cast<const char*>(&Zip[at + 46]), name_len);
    if (Le(Zip, local, 4) != 0x04034b50) throw std::runtime_error("bad local header");
    const size_t data = local + 30 + Le(Zip, local + 26, 2) + Le(Zip, local + 28, 2);
    if (data + e.packed > Zip.size()) throw std::runtime_error("data runs past the end");
    e.data = Zip.data() + data;
    out.push_back(e);
    at += 46 + name_len + extra_len + comment_len;
  }
  return out;
}

// A one-entry archive holding Packed as the data of an entry of the given method and flags.
inline std::vector<uint8_t> WriteSingleEntryZip(const std::string& Name, uint16_t Method,
                                                uint16_t Flags, const std::vector<uint8_t>& Packed,
                                                uint32_t Crc, uint32_t Unpacked) {
  std::vector<uint8_t> z;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) z.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const uint16_t version = Method == 6 || Method == 1 || (Method >= 2 && Method <= 5) ? 10 : 20;
  const uint32_t dos_time = (10u << 11) | (30u << 5),
                 dos_date = ((2000u - 1980) << 9) | (1 << 5) | 1;
  put(0x04034b50, 4);
  put(version, 2);
  put(Flags, 2);
  put(Method, 2);
  put(dos_time, 2);
  put(dos_date, 2);
  put(Crc, 4);
  put(static_cast<uint32_t>(Packed.size()), 4);
  put(Unpacked, 4);
  put(static_cast<uint32_t>(Name.size()), 2);
  put(0, 2);
  z.insert(z.end(), Name.begin(), Name.end());
  z.insert(z.end(), Packed.begin(), Packed.end());
  const uint32_t central = static_cast<uint32_t>(z.size());
  put(0x02014b50, 4);
  put(version, 2);
  put(version, 2);
  put(Flags, 2);
  put(Method, 2);
  put(dos_time, 2);
  put(dos_date, 2);
  put(Crc, 4);
  put(static_cast<uint32_t>(Packed.size()), 4);
  put(Unpacked, 4);
  put(static_cast<uint32_t>(Name.size()), 2);
  put(0, 2);
  put(0, 2);
  put(0, 2);
  put(0, 2);
  put(0, 4);
  put(0, 4);
  z.insert(z.end(), Name.begin(), Name.end());
  const uint32_t central_size = static_cast<uint32_t>(z.size()) - central;
  put(0x06054b50, 4);
  put(0, 2);
  put(0, 2);
  put(1, 2);
  put(1, 2);
  put(central_size, 4);
  put(central, 4);
  put(0, 2);
  return z;
}

}  // namespace zipkit::testing
