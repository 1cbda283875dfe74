// Builds ZIP bytes record by record with every field under the test's control, for the shapes
// an honest writer never makes: central records that share or overlap local entries, sizes that
// lie, names as long as the format allows.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zipkit::testing {

using Bytes = std::vector<uint8_t>;

struct TRawEntry {
  std::string Name;
  uint16_t Method = 0;
  uint16_t Flags = 0;
  uint32_t Crc = 0;
  uint32_t Packed = 0;
  uint32_t Unpacked = 0;
  uint32_t Offset = 0;  // of the local header (central records only)
};

inline void Put16(Bytes& B, uint32_t V) {
  B.push_back(static_cast<uint8_t>(V));
  B.push_back(static_cast<uint8_t>(V >> 8));
}
inline void Put32(Bytes& B, uint32_t V) {
  Put16(B, V & 0xFFFF);
  Put16(B, V >> 16);
}
inline void PutText(Bytes& B, const std::string& S) { B.insert(B.end(), S.begin(), S.end()); }

inline void PutLocal(Bytes& B, const TRawEntry& E) {
  Put32(B, 0x04034B50);
  Put16(B, 20);
  Put16(B, E.Flags);
  Put16(B, E.Method);
  Put16(B, 0x6000);
  Put16(B, 0x5A21);
  Put32(B, E.Crc);
  Put32(B, E.Packed);
  Put32(B, E.Unpacked);
  Put16(B, static_cast<uint32_t>(E.Name.size()));
  Put16(B, 0);
  PutText(B, E.Name);
}

inline void PutCentral(Bytes& B, const TRawEntry& E) {
  Put32(B, 0x02014B50);
  Put16(B, 20);
  Put16(B, 20);
  Put16(B, E.Flags);
  Put16(B, E.Method);
  Put16(B, 0x6000);
  Put16(B, 0x5A21);
  Put32(B, E.Crc);
  Put32(B, E.Packed);
  Put32(B, E.Unpacked);
  Put16(B, static_cast<uint32_t>(E.Name.size()));
  Put16(B, 0);
  Put16(B, 0);
  Put16(B, 0);
  Put16(B, 0);
  Put32(B, 0x20);
  Put32(B, E.Offset);
  PutText(B, E.Name);
}

// Appends the end record for a directory that begins at DirectoryStart and ends here.
inline void PutEnd(Bytes& B, uint32_t DirectoryStart, uint32_t Entries) {
  const auto size = static_cast<uint32_t>(B.size()) - DirectoryStart;
  Put32(B, 0x06054B50);
  Put16(B, 0);
  Put16(B, 0);
  Put16(B, Entries > 0xFFFF ? 0xFFFF : Entries);
  Put16(B, Entries > 0xFFFF ? 0xFFFF : Entries);
  Put32(B, size);
  Put32(B, DirectoryStart);
  Put16(B, 0);
}

inline uint32_t Crc32Of(const Bytes& Data) {
  return static_cast<uint32_t>(crc32(0, Data.data(), static_cast<uInt>(Data.size())));
}

// zlib's raw deflate of Data at its best level.
inline Bytes Deflate(const Bytes& Data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, static_cast<uLong>(Data.size())));
  z.next_in = const_cast<Bytef*>(Data.data());
  z.avail_in = static_cast<uInt>(Data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace zipkit::testing
