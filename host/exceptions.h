// The host's exception hierarchy. Every failure the engine reports is one of these classes
// or of the engine's own family (support/errors.h), which derives from Exception.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace zipkit {

// Root of every exception the system raises; carries the message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// The silent kind: raised to unwind without showing anything.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A file stream could not create its file ("Cannot create file %s").
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A file stream could not open its file ("Cannot open file %s").
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A stream delivered fewer bytes than asked for ("Stream read error").
class EReadError : public EFilerError {
 public:
  EReadError() : EFilerError("Stream read error") {}
  using EFilerError::EFilerError;
};

// A stream took fewer bytes than offered ("Stream write error").
class EWriteError : public EFilerError {
 public:
  EWriteError() : EFilerError("Stream write error") {}
  using EFilerError::EFilerError;
};

// An input/output failure of the operating system; carries its error code.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int32_t error_code)
      : Exception(std::move(message)), ErrorCode(error_code) {}
  int32_t ErrorCode;
};

// A list index outside the list.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// Raised by the host when a named resource is missing ("Resource %s not found").
class EResNotFound : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace zipkit
