#pragma once
// The system's exceptions. Every failure is raised as an Exception or a descendant; only
// EAbort is never shown to the user.
#include <stdexcept>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// The silent abort: ends an operation without any report.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// Text that does not convert to the number it must hold.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file operation failed; ErrorCode is the runtime's I/O error number.
class EInOutError : public Exception {
 public:
  EInOutError(int errorCode, std::string message)
      : Exception(std::move(message)), FErrorCode(errorCode) {}
  int ErrorCode() const noexcept { return FErrorCode; }

 private:
  int FErrorCode;
};
