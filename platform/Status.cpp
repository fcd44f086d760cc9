#include "platform/Status.h"

#include <cstring>

namespace ondavox {

Status Status::FormatError(const std::string& fileName, std::size_t offset,
                           const std::string& reason) {
  return Status(Code::kFormatError, offset,
                fileName + ": format error at byte " + std::to_string(offset) + ": " + reason);
}

Status Status::IoError(std::string message) {
  return Status(Code::kIoError, 0, std::move(message));
}

Status Status::InvalidArgument(std::string message) {
  return Status(Code::kInvalidArgument, 0, std::move(message));
}

Status PosixError(std::string_view context, int errnum) {
  std::string message(context);
  message += ": ";
  message += std::strerror(errnum);
  return Status::IoError(std::move(message));
}

}  // namespace ondavox
