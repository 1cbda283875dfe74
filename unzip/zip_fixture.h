// Test fixtures: small ZIP archives built byte by byte, so that every field (and every fault)
// is under the test's control.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/crc32.h"
#include "unzip/zdecoder.h"

namespace zipkit::testing {

inline uint32_t Crc32Of(const std::string& Data) {
  uint32_t crc = 0xFFFFFFFF;
  UpdateCrc32(crc, Data.data(), static_cast<int32_t>(Data.size()));
  return ~crc;
}

// Bytes that no method can shrink much, so packed and unpacked sizes stay alike.
inline std::string Noise(size_t N, uint32_t Seed) {
  std::string s(N, '\0');
  uint32_t x = Seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

struct FixtureEntry {
  std::string name;
  std::string data;          // what the entry holds, uncompressed
  std::string packed;        // the bytes stored; empty: data (method 0)
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t version_needed = 20;
  uint16_t made_by = 20;     // high byte: host (3 for Unix)
  uint32_t external_attributes = 0;
  uint16_t time = 0x6000;    // 12:00:00
  uint16_t date = 0x5A21;    // 2025-01-01
  std::string password;      // encrypt with this (flag bit 0 is set)
  bool crc_in_descriptor = false;  // local header with zero CRC and sizes (flag bit 3)
  bool time_check = false;   // encryption header checked against the time, as streamed ones
  // Deviations of the local header from the central record.
  std::string local_name;    // "" : same as name
  std::string local_extra, central_extra;
  int32_t crc_delta = 0;     // added to the CRC-32 in both records
  int32_t unpacked_delta = 0;  // added to the uncompressed size in both records
  int32_t packed_delta = 0;    // added to the compressed size in both records
};

class ZipFixture {
 public:
  void Add(const FixtureEntry& e) { entries_.push_back(e); }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out, central;
    for (const FixtureEntry& e : entries_) {
      const uint32_t offset = static_cast<uint32_t>(out.size());
      std::string body = e.packed.empty() && e.method == 0 ? e.data : e.packed;
      const uint32_t crc = Crc32Of(e.data) + e.crc_delta;
      uint16_t flags = e.flags;
      if (!e.password.empty()) {
        flags |= 1;
        body = Encrypt(e, body, crc);
      }
      if (e.crc_in_descriptor) flags |= 8;
      const auto packed = static_cast<uint32_t>(body.size() + e.packed_delta);
      const auto unpacked = static_cast<uint32_t>(e.data.size() + e.unpacked_delta);
      const std::string& lname = e.local_name.empty() ? e.name : e.local_name;
      Put32(out, 0x04034B50);
      Put16(out, e.version_needed);
      Put16(out, flags);
      Put16(out, e.method);
      Put16(out, e.time);
      Put16(out, e.date);
      Put32(out, e.crc_in_descriptor ? 0 : crc);
      Put32(out, e.crc_in_descriptor ? 0 : packed);
      Put32(out, e.crc_in_descriptor ? 0 : unpacked);
      Put16(out, static_cast<uint16_t>(lname.size()));
      Put16(out, static_cast<uint16_t>(e.local_extra.size()));
      PutText(out, lname);
      PutText(out, e.local_extra);
      PutText(out, body);
      if (e.crc_in_descriptor) {
        Put32(out, 0x08074B50);
        Put32(out, crc);
        Put32(out, packed);
        Put32(out, unpacked);
      }
      Put32(central, 0x02014B50);
      Put16(central, e.made_by);
      Put16(central, e.version_needed);
      Put16(central, flags);
      Put16(central, e.method);
      Put16(central, e.time);
      Put16(central, e.date);
      Put32(central, crc);
      Put32(central, packed);
      Put32(central, unpacked);
      Put16(central, static_cast<uint16_t>(e.name.size()));
      Put16(central, static_cast<uint16_t>(e.central_extra.size()));
      Put16(central, 0);  // comment
      Put16(central, 0);  // disk
      Put16(central, 0);  // internal attributes
      Put32(central, e.external_attributes);
      Put32(central, offset);
      PutText(central, e.name);
      PutText(central, e.central_extra);
    }
    const auto dir_offset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries_.size()));
    Put16(out, static_cast<uint16_t>(entries_.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, dir_offset);
    Put16(out, 0);
    return out;
  }

 private:
  static void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  }
  static void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, static_cast<uint16_t>(x));
    Put16(v, static_cast<uint16_t>(x >> 16));
  }
  static void PutText(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }

  // The encryption header (checked against the CRC, or the time for streamed entries) and the
  // encrypted body. The header's ten leading bytes are fixed rather than random, so that whether
  // a wrong password happens to pass the check byte (one time in 256) is the same in every run.
  static std::string Encrypt(const FixtureEntry& e, const std::string& body, uint32_t crc) {
    std::unique_ptr<TStream> unused = std::make_unique<TMemoryStream>();
    const bool by_time = e.crc_in_descriptor || e.time_check;
    const uint32_t check = by_time ? static_cast<uint32_t>(e.time) << 16 : crc;
    TAbZDecoder cipher(e.password, unused, check, true);
    std::string data(12, '\0');
    for (int i = 0; i < 10; ++i) data[i] = static_cast<char>(0x5A + 29 * i);
    data[10] = static_cast<char>(check >> 16);
    data[11] = static_cast<char>(check >> 24);
    data += body;
    cipher.ResetKeys();
    cipher.EncryptBuffer(reinterpret_cast<uint8_t*>(data.data()), static_cast<int32_t>(data.size()));
    return data;
  }

  std::vector<FixtureEntry> entries_;
};

}  // namespace zipkit::testing
