#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace ondavox {

// The outcome of an operation that can fail: success, a format error (content that does not
// parse, with the file name and the byte offset where reading failed), an I/O error (a file or
// socket the system refused, with the system's reason), or an invalid argument. Failed states
// carry a whole sentence for the user that names the file or the operation. Any thread.
class Status {
 public:
  enum class Code { kOk, kFormatError, kIoError, kInvalidArgument };

  Status() = default;
  static Status FormatError(const std::string& fileName, std::size_t offset,
                            const std::string& reason);
  static Status IoError(std::string message);
  static Status InvalidArgument(std::string message);

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // Where reading failed; 0 unless code() is kFormatError.
  std::size_t offset() const { return offset_; }
  // "UserDB.dat: format error at byte 17: ...", "cannot open a.txt: No such file or directory".
  const std::string& message() const { return message_; }

 private:
  Status(Code code, std::size_t offset, std::string message)
      : code_(code), offset_(offset), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::size_t offset_ = 0;
  std::string message_;
};

// A value, or the failed Status that tells why there is none. Any thread.
template <typename T>
class StatusOr {
 public:
  StatusOr(T value) : state_(std::move(value)) {}  // NOLINT: implicit, as a return value
  // |status| is a failure.
  StatusOr(Status status) : state_(std::move(status)) {}  // NOLINT

  bool ok() const { return std::holds_alternative<T>(state_); }
  // The failure; an ok Status when there is a value.
  Status status() const { return ok() ? Status() : std::get<Status>(state_); }
  // REQUIRES: ok().
  T& value() { return std::get<T>(state_); }
  const T& value() const { return std::get<T>(state_); }
  T& operator*() { return value(); }
  T* operator->() { return &value(); }

 private:
  std::variant<T, Status> state_;
};

// An I/O error "<context>: <the system's text for errnum>".
Status PosixError(std::string_view context, int errnum);

}  // namespace ondavox
