// The engine's exception family. Each class stands for one failure and carries a fixed message
// id (ErrorCode); its text is read from the engine's message table when the exception is built.
#pragma once

#include <cstdint>
#include <string>

#include "host/exceptions.h"

namespace zipkit {

// The text of message `Id` from the engine's table (empty when the table lacks it).
std::string EngineText(int32_t Id);

class EAbException : public Exception {
 public:
  // An exception with a text of the caller's own; ErrorCode 0.
  explicit EAbException(std::string Message) : Exception(std::move(Message)), ErrorCode(0) {}
  int32_t ErrorCode;

 protected:
  EAbException(int32_t Id, std::string Text) : Exception(std::move(Text)), ErrorCode(Id) {}
  explicit EAbException(int32_t Id) : EAbException(Id, EngineText(Id)) {}
};

#define ZIPKIT_EAB_CLASS(Name, Base, Id)   \
  class Name : public Base {               \
   public:                                 \
    Name() : Base(Id, EngineText(Id)) {}   \
                                           \
   protected:                              \
    using Base::Base;                      \
  };

ZIPKIT_EAB_CLASS(EAbBadStream, EAbException, 21)
ZIPKIT_EAB_CLASS(EAbNoSuchDirectory, EAbException, 19)
ZIPKIT_EAB_CLASS(EAbFileNotFound, EAbException, 25)
ZIPKIT_EAB_CLASS(EAbNoArchive, EAbException, 27)
ZIPKIT_EAB_CLASS(EAbUserAbort, EAbException, 9)

// Groups the ZIP format's failures; never raised itself.
class EAbZipException : public EAbException {
 protected:
  using EAbException::EAbException;
};

ZIPKIT_EAB_CLASS(EAbZipBadSpanStream, EAbZipException, 13)
ZIPKIT_EAB_CLASS(EAbZipBadCRC, EAbZipException, 23)
ZIPKIT_EAB_CLASS(EAbZipInflateBlock, EAbZipException, 20)
ZIPKIT_EAB_CLASS(EAbZipInvalid, EAbZipException, 28)
ZIPKIT_EAB_CLASS(EAbZipInvalidFactor, EAbZipException, 6)
ZIPKIT_EAB_CLASS(EAbZipInvalidLFH, EAbZipException, 26)
ZIPKIT_EAB_CLASS(EAbZipInvalidMethod, EAbZipException, 2)
ZIPKIT_EAB_CLASS(EAbZipInvalidPassword, EAbZipException, 4)
ZIPKIT_EAB_CLASS(EAbZipNoExtraction, EAbZipException, 3)
ZIPKIT_EAB_CLASS(EAbZipNoInsertion, EAbZipException, 5)
ZIPKIT_EAB_CLASS(EAbZipSpanOverwrite, EAbZipException, 15)
ZIPKIT_EAB_CLASS(EAbZipStreamFull, EAbZipException, 18)
ZIPKIT_EAB_CLASS(EAbZipUnsupported, EAbZipException, 8)
ZIPKIT_EAB_CLASS(EAbZipVersion, EAbZipException, 1)
ZIPKIT_EAB_CLASS(EAbReadError, EAbZipException, 29)
ZIPKIT_EAB_CLASS(EAbBBSSeekOutsideBuffer, EAbZipException, 41)
ZIPKIT_EAB_CLASS(EAbBBSInvalidOrigin, EAbZipException, 42)

#undef ZIPKIT_EAB_CLASS

// The classes whose texts carry arguments.
class EAbVMSInvalidOrigin : public EAbZipException {
 public:
  explicit EAbVMSInvalidOrigin(int32_t Origin);
};
class EAbVMSErrorOpenSwap : public EAbZipException {
 public:
  explicit EAbVMSErrorOpenSwap(const std::string& SwapFileName);
};
class EAbVMSSeekFail : public EAbZipException {
 public:
  explicit EAbVMSSeekFail(const std::string& SwapFileName);
};
class EAbVMSReadFail : public EAbZipException {
 public:
  EAbVMSReadFail(int32_t Count, const std::string& SwapFileName);
};
class EAbVMSWriteFail : public EAbZipException {
 public:
  EAbVMSWriteFail(int32_t Count, const std::string& SwapFileName);
};
class EAbBBSReadTooManyBytes : public EAbZipException {
 public:
  explicit EAbBBSReadTooManyBytes(int32_t Count);
};
class EAbBBSWriteTooManyBytes : public EAbZipException {
 public:
  explicit EAbBBSWriteTooManyBytes(int32_t Count);
};

// The reader of message tables reports its own failures with this class (no error code).
class EKroStringResourceError : public Exception {
 public:
  using Exception::Exception;
};

// One-byte classification of any exception, for OnProcessItemFailure.
enum TAbErrorClass : uint8_t {
  ecArchiveFault = 0,
  ecIoFault = 1,
  ecFilerFault = 2,
  ecCreateFault = 3,
  ecOpenFault = 4,
  ecUnclassified = 6,
};

void ClassifyException(const std::exception& E, TAbErrorClass& ErrorClass, int32_t& ErrorCode);

}  // namespace zipkit
