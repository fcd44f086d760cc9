#pragma once

#include <cstddef>
#include <cstdint>

namespace ondavox::fcast {

// Whole reads and writes at a file offset: they go on after short transfers and interrupted
// calls. False on an error, and for a read, on reaching the end of the file first. Any thread.
bool ReadAt(int fd, std::uint8_t* out, std::size_t length, std::uint64_t offset);
bool WriteAt(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset);

}  // namespace ondavox::fcast
