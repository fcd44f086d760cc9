#include "fcast/code/WorkBuffer.h"

#include <sys/mman.h>

namespace ondavox::fcast {

std::uint8_t* WorkBuffer::Reserve(std::size_t bytes) {
  if (bytes <= size_) return data_.get();
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  data_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, size)));
  size_ = data_ ? size : 0;
  if (data_) madvise(data_.get(), size, MADV_HUGEPAGE);  // advice only: fine if refused
  return data_.get();
}

}  // namespace ondavox::fcast
