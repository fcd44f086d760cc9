#include "platform/CurrentDirectory.h"

#include <filesystem>

namespace ondavox {

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::current_path(error);
  return error ? std::string(".") : directory.string();
}

}  // namespace ondavox
