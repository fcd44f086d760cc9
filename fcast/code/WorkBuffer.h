#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace ondavox::fcast {

// Work memory for transforms whose accesses stride across megabytes: aligned to 2 MiB and
// marked for transparent huge pages, so that the chunks of one point in many columns do not
// each cost a TLB miss. Grows, never shrinks. Owned by one coder; its thread.
class WorkBuffer {
 public:
  // At least |bytes|, contents unspecified. Null when the memory cannot be had.
  std::uint8_t* Reserve(std::size_t bytes);
  std::uint8_t* data() const { return data_.get(); }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t[], Free> data_;
  std::size_t size_ = 0;
};

}  // namespace ondavox::fcast
