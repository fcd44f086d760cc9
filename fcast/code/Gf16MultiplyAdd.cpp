#include "fcast/code/Gf16MultiplyAdd.h"

#include <array>

#include "fcast/code/Gf16.h"
#include "fcast/code/Gf16Kernels.h"

namespace ondavox::fcast {
namespace {

using Matrices = std::array<std::uint64_t, 4>;  // [out][in] flattened

// The bit matrices of a multiplication by c are linear in c: those of the 16 powers of two,
// from which any constant's are the sum over its bits.
class UnitMatrices {
 public:
  UnitMatrices() {
    for (int b = 0; b < 16; ++b) {
      const auto c = static_cast<std::uint16_t>(1u << b);
      // Byte 7 - i of an affine transform's matrix selects the input bits whose parity makes
      // output bit i.
      for (int k = 0; k < 16; ++k) {
        const std::uint16_t column = Gf16::Multiply(c, static_cast<std::uint16_t>(1u << k));
        for (int bit = 0; bit < 16; ++bit) {
          if (!(column & (1u << bit))) continue;
          units_[b][(bit / 8) * 2 + k / 8] |= std::uint64_t{1} << (8 * (7 - bit % 8) + k % 8);
        }
      }
    }
  }
  Matrices Of(std::uint16_t c) const {
    Matrices m{};
    for (int b = 0; b < 16; ++b) {
      if (!(c >> b & 1)) continue;
      for (int i = 0; i < 4; ++i) m[i] ^= units_[b][i];
    }
    return m;
  }

 private:
  std::array<Matrices, 16> units_{};
};

const UnitMatrices& TheUnitMatrices() {
  static const UnitMatrices units;
  return units;
}

// One element at a time, by logarithms.
template <gf16::Op op>
void ScalarLoop(std::uint16_t c, std::uint8_t* x, std::uint8_t* y, std::size_t bytes) {
  const auto get = [](const std::uint8_t* chunk, int j) {
    return static_cast<std::uint16_t>(chunk[j] | chunk[j + 32] << 8);
  };
  const auto put = [](std::uint8_t* chunk, int j, std::uint16_t v) {
    chunk[j] = static_cast<std::uint8_t>(v);
    chunk[j + 32] = static_cast<std::uint8_t>(v >> 8);
  };
  for (std::size_t i = 0; i < bytes; i += 64) {
    for (int j = 0; j < 32; ++j) {
      std::uint16_t a = get(x + i, j);
      if constexpr (op == gf16::kScale) {
        put(x + i, j, Gf16::Multiply(c, a));
        continue;
      }
      std::uint16_t b = get(y + i, j);
      if constexpr (op == gf16::kMultiplyAdd) {
        b ^= Gf16::Multiply(c, a);
      } else if constexpr (op == gf16::kForward) {
        a ^= Gf16::Multiply(c, b);
        b ^= a;
      } else {
        b ^= a;
        a ^= Gf16::Multiply(c, b);
      }
      put(x + i, j, a);
      put(y + i, j, b);
    }
  }
}

void RunScalar(gf16::Op op, std::uint16_t c, std::uint8_t* x, std::uint8_t* y, std::size_t bytes) {
  switch (op) {
    case gf16::kMultiplyAdd:
      return ScalarLoop<gf16::kMultiplyAdd>(c, x, y, bytes);
    case gf16::kScale:
      return ScalarLoop<gf16::kScale>(c, x, y, bytes);
    case gf16::kForward:
      return ScalarLoop<gf16::kForward>(c, x, y, bytes);
    case gf16::kInverse:
      return ScalarLoop<gf16::kInverse>(c, x, y, bytes);
  }
}

}  // namespace

Gf16MultiplyAdd::Gf16MultiplyAdd(std::uint16_t c) : c_(c) {
  const Matrices m = TheUnitMatrices().Of(c);
  for (int i = 0; i < 4; ++i) matrices_[i / 2][i % 2] = m[i];
}

bool Gf16MultiplyAdd::Supported(Gf16Form form) {
  switch (form) {
    case Gf16Form::kScalar:
      return true;
    case Gf16Form::kAvx2:
      return __builtin_cpu_supports("avx2");
    case Gf16Form::kGfni:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("gfni");
  }
  return false;
}

Gf16Form Gf16MultiplyAdd::Best() {
  static const Gf16Form best = Supported(Gf16Form::kGfni)   ? Gf16Form::kGfni
                               : Supported(Gf16Form::kAvx2) ? Gf16Form::kAvx2
                                                            : Gf16Form::kScalar;
  return best;
}

void Gf16MultiplyAdd::MultiplyAdd(const std::uint8_t* src, std::uint8_t* dest, std::size_t bytes,
                                  Gf16Form form) const {
  // The loops only read x in this operation.
  Run(gf16::kMultiplyAdd, const_cast<std::uint8_t*>(src), dest, bytes, form);
}

void Gf16MultiplyAdd::Scale(std::uint8_t* data, std::size_t bytes, Gf16Form form) const {
  Run(gf16::kScale, data, nullptr, bytes, form);
}

void Gf16MultiplyAdd::Forward(std::uint8_t* x, std::uint8_t* y, std::size_t bytes,
                              Gf16Form form) const {
  Run(gf16::kForward, x, y, bytes, form);
}

void Gf16MultiplyAdd::Inverse(std::uint8_t* x, std::uint8_t* y, std::size_t bytes,
                              Gf16Form form) const {
  Run(gf16::kInverse, x, y, bytes, form);
}

void Gf16MultiplyAdd::Run(int op, std::uint8_t* x, std::uint8_t* y, std::size_t bytes,
                          Gf16Form form) const {
  const auto kernelOp = static_cast<gf16::Op>(op);
  switch (form) {
    case Gf16Form::kGfni:
      gf16::RunGfni(kernelOp, matrices_, x, y, bytes);
      return;
    case Gf16Form::kAvx2:
      gf16::RunAvx2(kernelOp, c_, x, y, bytes);
      return;
    case Gf16Form::kScalar:
      RunScalar(kernelOp, c_, x, y, bytes);
      return;
  }
}

}  // namespace ondavox::fcast
