#pragma once

#include <cstddef>
#include <cstdint>

namespace ondavox::fcast {

// How a Gf16MultiplyAdd computes: tables of logarithms one element at a time, AVX2 byte
// shuffles of nibble tables, or GFNI affine transforms (with AVX2).
enum class Gf16Form { kScalar, kAvx2, kGfni };

// Multiplication of whole symbols by one constant c of GF(2^16), the kernel of the wide code's
// transforms. Symbols are in the chunked layout: 64-byte chunks that hold 32 elements' low
// bytes, then their high bytes; every length is a multiple of 64. Each operation runs in the
// form given, by default the fastest this processor has (GFNI, else AVX2, else scalar). The
// product's GFNI bit matrices are kept; the other forms derive theirs from c. A value type;
// any thread.
class Gf16MultiplyAdd {
 public:
  explicit Gf16MultiplyAdd(std::uint16_t c = 0);

  static Gf16Form Best();
  static bool Supported(Gf16Form form);
  std::uint16_t Constant() const { return c_; }

  // dest ^= c * src.
  void MultiplyAdd(const std::uint8_t* src, std::uint8_t* dest, std::size_t bytes,
                   Gf16Form form = Best()) const;
  // data = c * data.
  void Scale(std::uint8_t* data, std::size_t bytes, Gf16Form form = Best()) const;
  // The transform's butterflies in one pass over x and y: forward x ^= c * y then y ^= x;
  // inverse y ^= x then x ^= c * y.
  void Forward(std::uint8_t* x, std::uint8_t* y, std::size_t bytes, Gf16Form form = Best()) const;
  void Inverse(std::uint8_t* x, std::uint8_t* y, std::size_t bytes, Gf16Form form = Best()) const;

 private:
  // |op| is one of gf16::Op (Gf16Kernels.h).
  void Run(int op, std::uint8_t* x, std::uint8_t* y, std::size_t bytes, Gf16Form form) const;

  std::uint64_t matrices_[2][2] = {};  // [byte of the product][byte of the element]
  std::uint16_t c_ = 0;
};

}  // namespace ondavox::fcast
