#include "support/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace zipkit {
namespace {

struct ClassCase {
  const char* name;
  std::function<void()> raise;
  int32_t code;
  const char* text;
};

template <typename E, typename... Args>
std::function<void()> Raiser(Args... args) {
  return [=] { throw E(args...); };
}

// Every class of the family with the text and code it must carry.
const ClassCase kClasses[] = {
    {"EAbBadStream", Raiser<EAbBadStream>(), 21, "Cannot truncate this type of stream"},
    {"EAbNoSuchDirectory", Raiser<EAbNoSuchDirectory>(), 19, "Directory does not exist"},
    {"EAbFileNotFound", Raiser<EAbFileNotFound>(), 25, "File not found"},
    {"EAbNoArchive", Raiser<EAbNoArchive>(), 27, "Archive does not exist - FileName is blank"},
    {"EAbUserAbort", Raiser<EAbUserAbort>(), 9, "Process aborted by user"},
    {"EAbZipBadSpanStream", Raiser<EAbZipBadSpanStream>(), 13,
     "Spanned archives must be opened as file streams"},
    {"EAbZipBadCRC", Raiser<EAbZipBadCRC>(), 23, "Failed CRC Check"},
    {"EAbZipInflateBlock", Raiser<EAbZipInflateBlock>(), 20, "Cannot inflate block"},
    {"EAbZipInvalid", Raiser<EAbZipInvalid>(), 28, "Invalid file - not a PKZip file"},
    {"EAbZipInvalidFactor", Raiser<EAbZipInvalidFactor>(), 6, "Invalid Reduce Factor"},
    {"EAbZipInvalidLFH", Raiser<EAbZipInvalidLFH>(), 26, "Invalid Local File Header entry"},
    {"EAbZipInvalidMethod", Raiser<EAbZipInvalidMethod>(), 2,
     "Cannot extract file - unsupported compression method"},
    {"EAbZipInvalidPassword", Raiser<EAbZipInvalidPassword>(), 4,
     "Cannot extract file - invalid password"},
    {"EAbZipNoExtraction", Raiser<EAbZipNoExtraction>(), 3,
     "Cannot extract file - no extraction support provided"},
    {"EAbZipNoInsertion", Raiser<EAbZipNoInsertion>(), 5,
     "Cannot insert file - no insertion support provided"},
    {"EAbZipSpanOverwrite", Raiser<EAbZipSpanOverwrite>(), 15,
     "Cannot update an existing spanned disk set"},
    {"EAbZipStreamFull", Raiser<EAbZipStreamFull>(), 18, "Stream write error"},
    {"EAbZipUnsupported", Raiser<EAbZipUnsupported>(), 8,
     "Cannot insert file - unsupported compression method"},
    {"EAbZipVersion", Raiser<EAbZipVersion>(), 1, "Cannot extract file - newer version required"},
    {"EAbReadError", Raiser<EAbReadError>(), 29, "Error reading archive"},
    {"EAbVMSInvalidOrigin", Raiser<EAbVMSInvalidOrigin>(7), 201,
     "VMS: invalid origin 7, should be 0, 1, 2"},
    {"EAbVMSErrorOpenSwap", Raiser<EAbVMSErrorOpenSwap>(std::string("C:\\T\\VMS1.tmp")), 202,
     "VMS: Cannot open swap file C:\\T\\VMS1.tmp"},
    {"EAbVMSSeekFail", Raiser<EAbVMSSeekFail>(std::string("s.tmp")), 203,
     "VMS: Failed to seek in swap file s.tmp"},
    {"EAbVMSReadFail", Raiser<EAbVMSReadFail>(4096, std::string("VMS2.tmp")), 204,
     "VMS: Failed to read 4096 bytes from swap file VMS2.tmp"},
    {"EAbVMSWriteFail", Raiser<EAbVMSWriteFail>(-3, std::string("w")), 205,
     "VMS: Failed to write -3 bytes to swap file w"},
    {"EAbBBSReadTooManyBytes", Raiser<EAbBBSReadTooManyBytes>(70000), 40,
     "BBS: request to read too many bytes [70000]"},
    {"EAbBBSSeekOutsideBuffer", Raiser<EAbBBSSeekOutsideBuffer>(), 41,
     "BBS: New position is outside the buffer"},
    {"EAbBBSInvalidOrigin", Raiser<EAbBBSInvalidOrigin>(), 42, "BBS: Invalid Origin value"},
    {"EAbBBSWriteTooManyBytes", Raiser<EAbBBSWriteTooManyBytes>(0), 43,
     "BBS: request to write too many bytes [0]"},
};

TEST(EngineErrors, EveryClassCarriesItsTextAndCode) {
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
      ADD_FAILURE() << "nothing raised";
    } catch (const EAbException& e) {
      EXPECT_EQ(e.ErrorCode, c.code);
      EXPECT_EQ(e.Message(), c.text);
      EXPECT_STREQ(e.what(), c.text);
      TAbErrorClass cls;
      int32_t code = -1;
      ClassifyException(e, cls, code);
      EXPECT_EQ(cls, ecArchiveFault);
      EXPECT_EQ(code, c.code);
    }
  }
}

TEST(EngineErrors, ZipFailuresShareTheirGroup) {
  EXPECT_THROW(throw EAbZipBadCRC(), EAbZipException);
  EXPECT_THROW(throw EAbVMSReadFail(1, "x"), EAbZipException);
  EXPECT_THROW(throw EAbUserAbort(), EAbException);
  // The archive's own failures are not ZIP failures.
  bool caught_as_zip = false;
  try {
    throw EAbNoArchive();
  } catch (const EAbZipException&) {
    caught_as_zip = true;
  } catch (const EAbException&) {
  }
  EXPECT_FALSE(caught_as_zip);
}

TEST(EngineErrors, EngineTextOfAbsentIdIsEmpty) {
  EXPECT_EQ(EngineText(35), "");
  EXPECT_EQ(EngineText(0), "");
  EXPECT_EQ(EngineText(310), " added ");
}

struct ClassifyCase {
  const char* name;
  std::function<void()> raise;
  TAbErrorClass cls;
  int32_t code;
};

TEST(ClassifyException, SortsEveryKind) {
  const ClassifyCase cases[] = {
      {"own text", [] { throw EAbException("Path not found"); }, ecArchiveFault, 0},
      {"archive", [] { throw EAbZipInvalid(); }, ecArchiveFault, 28},
      {"in/out", [] { throw EInOutError("Access denied", 5); }, ecIoFault, 5},
      {"read", [] { throw EReadError(); }, ecFilerFault, 0},
      {"write", [] { throw EWriteError(); }, ecFilerFault, 0},
      {"open", [] { throw EFOpenError("Cannot open file x"); }, ecOpenFault, 0},
      {"create", [] { throw EFCreateError("Cannot create file x"); }, ecCreateFault, 0},
      {"stream", [] { throw EStreamError("other"); }, ecUnclassified, 0},
      {"list index", [] { throw EListError("List index out of bounds (3)"); }, ecUnclassified, 0},
      {"reader", [] { throw EKroStringResourceError("x"); }, ecUnclassified, 0},
      {"abort", [] { throw EAbort(); }, ecUnclassified, 0},
      {"memory", [] { throw std::bad_alloc(); }, ecUnclassified, 0},
      {"runtime", [] { throw std::runtime_error("x"); }, ecUnclassified, 0},
  };
  for (const ClassifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
    } catch (const std::exception& e) {
      TAbErrorClass cls = ecArchiveFault;
      int32_t code = -1;
      ClassifyException(e, cls, code);
      EXPECT_EQ(cls, c.cls);
      EXPECT_EQ(code, c.code);
    }
  }
}

}  // namespace
}  // namespace zipkit
