#include "support/errors.h"

#include <mutex>
#include <typeinfo>

#include "support/format.h"
#include "support/string_resource.h"

namespace zipkit {

std::string EngineText(int32_t Id) {
  // The reader keeps its table pointer in a field during a lookup; exceptions may be built on
  // any thread, so lookups through the shared reader take turns.
  static std::mutex mutex;
  TAbStringResource& strings = EngineStrings();
  std::lock_guard<std::mutex> lock(mutex);
  return strings.TextOf(Id);
}

EAbVMSInvalidOrigin::EAbVMSInvalidOrigin(int32_t Origin)
    : EAbZipException(201, Format(EngineText(201), {Origin})) {}

EAbVMSErrorOpenSwap::EAbVMSErrorOpenSwap(const std::string& SwapFileName)
    : EAbZipException(202, Format(EngineText(202), {SwapFileName})) {}

EAbVMSSeekFail::EAbVMSSeekFail(const std::string& SwapFileName)
    : EAbZipException(203, Format(EngineText(203), {SwapFileName})) {}

EAbVMSReadFail::EAbVMSReadFail(int32_t Count, const std::string& SwapFileName)
    : EAbZipException(204, Format(EngineText(204), {Count, SwapFileName})) {}

EAbVMSWriteFail::EAbVMSWriteFail(int32_t Count, const std::string& SwapFileName)
    : EAbZipException(205, Format(EngineText(205), {Count, SwapFileName})) {}

EAbBBSReadTooManyBytes::EAbBBSReadTooManyBytes(int32_t Count)
    : EAbZipException(40, Format(EngineText(40), {Count})) {}

EAbBBSWriteTooManyBytes::EAbBBSWriteTooManyBytes(int32_t Count)
    : EAbZipException(43, Format(EngineText(43), {Count})) {}

void ClassifyException(const std::exception& E, TAbErrorClass& ErrorClass, int32_t& ErrorCode) {
  ErrorClass = ecUnclassified;
  ErrorCode = 0;
  if (const auto* ab = dynamic_cast<const EAbException*>(&E)) {
    ErrorClass = ecArchiveFault;
    ErrorCode = ab->ErrorCode;
  } else if (const auto* io = dynamic_cast<const EInOutError*>(&E)) {
    ErrorClass = ecIoFault;
    ErrorCode = io->ErrorCode;
  } else if (dynamic_cast<const EFilerError*>(&E)) {
    ErrorClass = ecFilerFault;
  } else if (dynamic_cast<const EFOpenError*>(&E)) {
    ErrorClass = ecOpenFault;
  } else if (dynamic_cast<const EFCreateError*>(&E)) {
    ErrorClass = ecCreateFault;
  }
}

}  // namespace zipkit
