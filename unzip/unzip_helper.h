// TAbUnzipHelper: the decompressor one extraction creates and frees. It owns the input block
// (decrypted in place, crossing volumes of a spanned set), the output buffer (with the running
// CRC-32, progress and the abort check), the bit readers and the dispatch by method.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/stream.h"

namespace zipkit {

class TAbZipArchive;
class TAbZDecoder;

class TAbUnzipHelper {
 public:
  static constexpr int32_t kInBufferSize = 4096;
  static constexpr int32_t kOutBufferSize = 32768;

  using TProgressHook = std::function<void(uint8_t Percent, bool& Abort)>;
  // Installed by the extraction driver, so that this class needs neither the archive nor the
  // cipher: open volume `Disk` of a spanned set into StreamSlot; check the 12-byte encryption
  // header at the stream's position; decrypt a block in place.
  using TVolumeHook = std::function<void(uint16_t Disk)>;
  using TCheckHeaderHook = std::function<void()>;
  using TDecryptHook = std::function<void(uint8_t* Buffer, int32_t Count)>;

  TAbUnzipHelper(std::unique_ptr<TStream>& StreamSlot, TAbZDecoder* Decoder, TStream& Target);
  virtual ~TAbUnzipHelper();

  // Decodes the item; returns the CRC-32 of the decoded bytes.
  uint32_t Decompress();

  // Services for the decoders.
  void FillInput();
  void PutByte(uint8_t b);
  void FlushOutput();
  uint32_t ReadBits(int n);  // n = 1..16, least significant bit first
  // Takes the next input byte into CurrentByte (refilling InBuffer when it is used up).
  void NextByte() {
    if (InNext <= InCount) CurrentByte = InBuffer[InNext++ - 1];
    else FillInput();
  }
  // True when the input is used up: no compressed bytes left and the block is consumed.
  bool InputExhausted() const { return InputEnded && InNext > InCount; }

  virtual void ReportProgress(uint8_t Percent, bool& Abort);

  // Writes decoded bytes to Sink, counting them into the CRC-32 and OutFlushed; raises
  // EAbZipStreamFull when the sink takes fewer bytes than offered.
  void WriteToSink(const uint8_t* Data, int32_t Count);

  // The decoders, each in its own file.
  void CopyStored();  // method 0
  void Unshrink();    // method 1
  void Unreduce();    // methods 2..5
  void Explode();     // method 6
  void Inflate();     // method 8

  // Fields, as one extraction sets them up.
  TStream* Sink;
  TStream* Target;
  int32_t ExpectedSize = 0;
  uint32_t CrcRegister = 0xFFFFFFFF;
  int32_t PackedBytes;
  uint8_t Method = 8;
  TAbZDecoder* Decoder;  // not owned; the hooks below do the work
  TCheckHeaderHook CheckHeader;
  TDecryptHook DecryptBuffer;
  TVolumeHook OpenSpannedVolume;
  uint8_t Dictionary = 0;  // implode: 0 none, 1 for 4 KB, 2 for 8 KB
  uint8_t Trees = 0;       // implode: 0, 2 or 3
  TProgressHook ProgressHook;
  uint8_t LastPercent = 0;
  bool Spanned = false;
  TAbZipArchive* Archive = nullptr;
  uint16_t CurrentDisk = 0;

  std::vector<uint8_t> OutBuffer;  // kOutBufferSize bytes
  int32_t OutFlushed = 0;
  int32_t OutFill = 0;

  // Input block; positions are counted from 1 as the algorithms do (InNext = InCount + 1:
  // used up).
  uint8_t InBuffer[kInBufferSize];
  int32_t InNext = kInBufferSize + 1;
  int32_t InCount = 0;
  int32_t InRemaining = 0;
  bool InputEnded = false;
  uint8_t CurrentByte = 0;
  uint8_t BitsInByte = 0;

  std::unique_ptr<TStream>& StreamSlot;  // the archive's Stream field; a volume change replaces it

 private:
  void NextVolumeIfAtEnd();
  // Reads, decrypts and returns the next block of at most Capacity bytes into Buffer; a block
  // never crosses the end of a volume.
  int32_t ReadBlock(uint8_t* Buffer, int32_t Capacity);

  int32_t VolumeLeft = 0;  // bytes of the current volume after the stream's position
};

}  // namespace zipkit
