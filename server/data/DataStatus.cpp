#include "server/data/DataStatus.h"

namespace ondavox {

DataStatus DataStatus::FormatError(const std::string& fileName, std::size_t offset,
                                   const std::string& reason) {
  return DataStatus(Code::kFormatError, offset,
                    fileName + ": format error at byte " + std::to_string(offset) + ": " + reason);
}

DataStatus DataStatus::IoError(std::string message) {
  return DataStatus(Code::kIoError, 0, std::move(message));
}

}  // namespace ondavox
