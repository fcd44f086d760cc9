#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

// An I/O error "<context>: <the system's text for errnum>".
Status PosixError(std::string_view context, int errnum);

// A value, or the failed Status that stands in its place. A value type; any thread.
template <class T>
class StatusOr {
 public:
  StatusOr(T value) : value_(std::move(value)) {}
  // REQUIRES: !status.ok().
  StatusOr(Status status) : status_(std::move(status)) {}

  bool ok() const { return value_.has_value(); }
  // Ok when there is a value.
  const Status& status() const { return status_; }
  // REQUIRES: ok().
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace ondavox
