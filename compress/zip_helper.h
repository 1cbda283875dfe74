// TAbZipHelper: turns the data of one new archive entry into its ZIP form. It copies the data
// unchanged (method 0) or deflates it (method 8), or tries deflate and stores instead when that
// does not make the data smaller (method 11), computing the CRC-32 of the data, encrypting what
// it writes when it has a decoder, and reporting progress on the way. One helper serves one
// entry: created, configured, Compress once, freed.
#pragma once

#include <cstdint>
#include <functional>

#include "archive/object.h"
#include "compress/deflate.h"
#include "host/stream.h"
#include "zip/zip_archive.h"

namespace zipkit {

class TAbZDecoder;

class TAbZipHelper : public TObject {
 public:
  // Methods Compress accepts.
  static constexpr uint8_t kStored = 0;
  static constexpr uint8_t kDeflated = 8;
  static constexpr uint8_t kBestMethod = 11;  // deflate, unless storing is no larger

  // Progress as a percentage; setting Abort ends the work with EAbUserAbort.
  using TProgressCallback = std::function<void(uint8_t Percent, bool& Abort)>;

  // InputSize starts as the size of Source, which is read from its beginning. With a Decoder,
  // everything written is encrypted; its header must already be in Target, just before the
  // position where the data goes, and the decoder must write through Target (a fall-back to
  // storing writes a fresh header there).
  TAbZipHelper(TStream& Source, TAbZDecoder* Decoder, TStream& Target);

  // Writes the entry's data to Target at its position. Afterwards Method is 0 or 8 and CRC32,
  // CompressedSize (without the encryption header) and IsText describe what was written. Raises
  // EAbZipUnsupported for another method, EAbZipStreamFull when Target does not take the
  // output, EAbUserAbort when the progress callback asks to stop.
  void Compress();

  // The literals of the first block were mostly text.
  bool IsText() const { return DataType == dtText; }

  // Calls OnProgress when Percent differs from the last percentage reported.
  virtual void ReportPercent(uint8_t Percent, bool& Abort);

  // Settings.
  TAbZipDeflationOption DeflationOption = doNormal;
  // The bytes to take from Source. When Source ends before, this becomes the count it gave.
  int32_t InputSize;
  uint8_t Method = kDeflated;
  TProgressCallback OnProgress;

  // Results.
  uint32_t CRC32 = 0;
  int32_t CompressedSize = 0;
  TDeflateDataType DataType = dtUnknown;

 private:
  class TSourceReader;
  class TTargetWriter;

  void StoreCopy();
  void DeflateStream(int Level);

  TStream& source_;
  TAbZDecoder* decoder_;
  TStream& target_;
  uint8_t last_percent_ = 0;
};

}  // namespace zipkit
