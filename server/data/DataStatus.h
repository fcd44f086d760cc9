#pragma once

#include <cstddef>
#include <string>

namespace ondavox {

// The outcome of loading or saving a data file: success, a format error (content that does
// not parse, with the file name and the byte offset where reading failed), or an I/O error
// (a file that exists but cannot be read, or cannot be written). Any thread.
class DataStatus {
 public:
  enum class Code { kOk, kFormatError, kIoError };

  DataStatus() = default;
  static DataStatus FormatError(const std::string& fileName, std::size_t offset,
                                const std::string& reason);
  static DataStatus IoError(std::string message);

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // Where reading failed; 0 unless code() is kFormatError.
  std::size_t offset() const { return offset_; }
  // A whole sentence for the user: "UserDB.dat: format error at byte 17: ...".
  const std::string& message() const { return message_; }

 private:
  DataStatus(Code code, std::size_t offset, std::string message)
      : code_(code), offset_(offset), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::size_t offset_ = 0;
  std::string message_;
};

}  // namespace ondavox
