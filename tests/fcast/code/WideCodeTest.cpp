#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "fcast/code/Gf16.h"
#include "fcast/code/Gf16MultiplyAdd.h"
#include "fcast/code/WideCode.h"
#include "fcast/code/WideFft.h"

namespace ondavox::fcast {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The field by its definition: shift-and-add products, inverses as a^(2^16 - 2).
std::uint16_t Mul(std::uint16_t a, std::uint16_t b) {
  std::uint32_t product = 0;
  std::uint32_t shifted = a;
  for (int bit = 0; bit < 16; ++bit) {
    if (b >> bit & 1) product ^= shifted;
    shifted <<= 1;
    if (shifted & 0x10000) shifted ^= 0x1002d;
  }
  return static_cast<std::uint16_t>(product);
}

std::uint16_t Inv(std::uint16_t a) {
  std::uint16_t result = 1;
  for (std::uint32_t e = 65534; e != 0; e >>= 1, a = Mul(a, a)) {
    if (e & 1) result = Mul(result, a);
  }
  return result;
}

Bytes RandomBytes(std::size_t size, std::mt19937& rng) {
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

std::uint16_t ChunkElement(const Bytes& chunks, std::size_t i) {
  return static_cast<std::uint16_t>(chunks[i / 32 * 64 + i % 32] | chunks[i / 32 * 64 + i % 32 + 32]
                                                                       << 8);
}

TEST(Gf16, TablesAgreeWithTheDefinitionAndXGeneratesTheGroup) {
  std::mt19937 rng(1);
  for (int i = 0; i < 20000; ++i) {
    const auto a = static_cast<std::uint16_t>(rng());
    const auto b = static_cast<std::uint16_t>(rng() | 1);
    ASSERT_EQ(Gf16::Multiply(a, b), Mul(a, b));
    ASSERT_EQ(Mul(Gf16::Divide(a, b), b), a);
  }
  std::vector<bool> seen(65536, false);
  for (std::uint32_t e = 0; e < Gf16::kOrder; ++e) {
    const std::uint16_t x = Gf16::Exp(e);
    ASSERT_FALSE(seen[x]) << "x^" << e << " repeats";
    seen[x] = true;
    ASSERT_EQ(Gf16::Log(x), e);
  }
}

TEST(Gf16MultiplyAdd, EveryFormAndOperationAgreesWithTheDefinition) {
  std::mt19937 rng(2);
  constexpr std::size_t kBytes = 64 * 7;
  for (const std::uint16_t c : {0, 1, 2, 0x8000, 0x9a3c, 0xffff}) {
    const Gf16MultiplyAdd m(c);
    const Bytes x = RandomBytes(kBytes, rng);
    const Bytes y = RandomBytes(kBytes, rng);
    for (Gf16Form form : {Gf16Form::kScalar, Gf16Form::kAvx2, Gf16Form::kGfni}) {
      if (!Gf16MultiplyAdd::Supported(form)) continue;
      Bytes add = y;
      m.MultiplyAdd(x.data(), add.data(), kBytes, form);
      Bytes scaled = x;
      m.Scale(scaled.data(), kBytes, form);
      Bytes fx = x, fy = y, ix = x, iy = y;
      m.Forward(fx.data(), fy.data(), kBytes, form);
      m.Inverse(ix.data(), iy.data(), kBytes, form);
      for (std::size_t i = 0; i < kBytes / 2; ++i) {
        const std::uint16_t a = ChunkElement(x, i);
        const std::uint16_t b = ChunkElement(y, i);
        const auto forwardX = static_cast<std::uint16_t>(a ^ Mul(c, b));
        const auto inverseY = static_cast<std::uint16_t>(a ^ b);
        ASSERT_EQ(ChunkElement(add, i), b ^ Mul(c, a)) << "c " << c << " form " << int(form);
        ASSERT_EQ(ChunkElement(scaled, i), Mul(c, a));
        ASSERT_EQ(ChunkElement(fx, i), forwardX);
        ASSERT_EQ(ChunkElement(fy, i), forwardX ^ b);
        ASSERT_EQ(ChunkElement(iy, i), inverseY);
        ASSERT_EQ(ChunkElement(ix, i), a ^ Mul(c, inverseY));
      }
    }
  }
}

// X_i(x), the product over the bits j of i of s_j(x) / s_j(2^j), s_j(x) the product of
// (x - a) over every a below 2^j.
std::uint16_t Basis(std::uint32_t i, std::uint16_t x) {
  const auto subspace = [](int j, std::uint16_t at) {
    std::uint16_t product = 1;
    for (std::uint32_t a = 0; a < (1u << j); ++a) product = Mul(product, at ^ a);
    return product;
  };
  std::uint16_t value = 1;
  for (int j = 0; i >> j; ++j) {
    if (i >> j & 1) {
      value =
          Mul(value, Mul(subspace(j, x), Inv(subspace(j, static_cast<std::uint16_t>(1u << j)))));
    }
  }
  return value;
}

TEST(WideFft, EvaluatesTheCoefficientsPolynomialAtAnyOffsetAndInterpolationUndoesIt) {
  std::mt19937 rng(3);
  constexpr std::uint32_t n = 32;
  for (const std::uint32_t offset : {0u, 32u, 4096u, 65536u - 32}) {
    const Bytes coefficients = RandomBytes(n * 64, rng);
    Bytes column = coefficients;
    WideFft::Evaluate(column.data(), n, offset, WidePoints::Below(n, n));
    for (std::uint32_t u = 0; u < n; ++u) {
      for (std::size_t e = 0; e < 32; e += 11) {
        std::uint16_t expected = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
          expected ^= Mul(ChunkElement(coefficients, i * 32 + e),
                          Basis(i, static_cast<std::uint16_t>(offset + u)));
        }
        ASSERT_EQ(ChunkElement(column, u * 32 + e), expected) << "offset " << offset << " u " << u;
      }
    }
    const Bytes values = column;
    WideFft::Interpolate(column.data(), n, offset, WidePoints::Below(n, n));
    EXPECT_EQ(column, coefficients);
    // Pruned: a few scattered values, from the coefficients alone.
    const std::vector<std::uint32_t> wanted = {1, 6, 7, 20};
    WideFft::Evaluate(column.data(), n, offset, WidePoints(n, wanted));
    for (std::uint32_t u : wanted) {
      EXPECT_TRUE(std::equal(values.begin() + u * 64, values.begin() + (u + 1) * 64,
                             column.begin() + u * 64))
          << "offset " << offset << " u " << u;
    }
  }
  // The whole field: 65536 points.
  const Bytes values = RandomBytes(65536 * 64, rng);
  Bytes column = values;
  WideFft::Interpolate(column.data(), 65536, 0, WidePoints::Below(65536, 65536));
  WideFft::Evaluate(column.data(), 65536, 0, WidePoints::Below(65536, 65536));
  EXPECT_EQ(column, values);
}

TEST(WideFft, SkipsWhatTheInputsAndWantedValuesDoNotReach) {
  // Values zero outside a sparse input set interpolate as the whole column does, across the
  // cached blocks; evaluating below a power of two reads no coefficient above it.
  std::mt19937 rng(5);
  constexpr std::uint32_t n = 16384;
  Bytes values(n * 64, 0);
  std::vector<std::uint32_t> inputs;
  for (std::uint32_t u = 0; u < n; u += 1 + rng() % 900) {
    inputs.push_back(u);
    const Bytes chunk = RandomBytes(64, rng);
    std::copy(chunk.begin(), chunk.end(), values.begin() + u * 64);
  }
  Bytes whole = values;
  WideFft::Interpolate(whole.data(), n, 0, WidePoints::Below(n, n));
  Bytes sparse = values;
  WideFft::Interpolate(sparse.data(), n, 0, WidePoints(n, inputs));
  ASSERT_EQ(sparse, whole);
  std::fill(sparse.begin() + n / 4 * 64, sparse.end(), 0xA5);  // never to be read
  WideFft::Evaluate(sparse.data(), n, 0, WidePoints::Below(n, n / 4));
  EXPECT_TRUE(std::equal(values.begin(), values.begin() + n / 4 * 64, sparse.begin()));
}

// A polynomial in powers of x, at x.
std::uint16_t At(const std::vector<std::uint16_t>& p, std::uint16_t x) {
  std::uint16_t value = 0;
  for (std::size_t t = p.size(); t-- > 0;) value = Mul(value, x) ^ p[t];
  return value;
}

TEST(WideFft, DeriveAddsTheDerivativeOfTheMonomialForm) {
  // X_i in powers of x, by multiplying out the subspace polynomials; the derivative of
  // sum a_t x^t is sum t a_t x^(t-1), the odd t surviving in characteristic 2.
  constexpr std::uint32_t n = 16;
  using Poly = std::vector<std::uint16_t>;
  const auto times = [](const Poly& p, const Poly& q) {
    Poly r(p.size() + q.size() - 1, 0);
    for (std::size_t i = 0; i < p.size(); ++i) {
      for (std::size_t j = 0; j < q.size(); ++j) r[i + j] ^= Mul(p[i], q[j]);
    }
    return r;
  };
  std::vector<Poly> basis(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    Poly p{1};
    for (int j = 0; i >> j; ++j) {
      if (!(i >> j & 1)) continue;
      Poly s{1};
      for (std::uint32_t a = 0; a < (1u << j); ++a)
        s = times(s, {static_cast<std::uint16_t>(a), 1});
      p = times(p, s);
      const std::uint16_t norm = Inv(At(s, static_cast<std::uint16_t>(1u << j)));
      for (auto& t : p) t = Mul(t, norm);
    }
    basis[i] = p;
  }
  std::mt19937 rng(4);
  const Bytes coefficients = RandomBytes(n * 64, rng);
  Bytes column = coefficients;
  WideFft::Derive(column.data(), n, n);
  for (std::size_t e = 0; e < 32; e += 7) {
    Poly monomial(n, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      for (std::size_t t = 0; t < basis[i].size(); ++t) {
        monomial[t] ^= Mul(ChunkElement(coefficients, i * 32 + e), basis[i][t]);
      }
    }
    Poly derivative = monomial;  // plus the polynomial itself
    for (std::size_t t = 1; t < n; t += 2) derivative[t - 1] ^= monomial[t];
    // The derived coefficients, multiplied out, must give the same polynomial.
    Poly got(n, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      for (std::size_t t = 0; t < basis[i].size(); ++t) {
        got[t] ^= Mul(ChunkElement(column, i * 32 + e), basis[i][t]);
      }
    }
    EXPECT_EQ(got, derivative) << "element " << e;
  }
  // Limited to the coefficients below n / 4: the same ones.
  Bytes limited = coefficients;
  WideFft::Derive(limited.data(), n, n / 4);
  EXPECT_TRUE(std::equal(column.begin(), column.begin() + n / 4 * 64, limited.begin()));
}

// A block's source symbols and its other symbols as the encoder gives them, whole cosets at a
// time, made on demand.
class Block {
 public:
  Block(std::uint32_t k, std::size_t symbolSize, std::mt19937& rng)
      : k_(k), stride_(WideStride(k)), size_(symbolSize), symbols_(kWideSymbolIds / stride_) {
    for (std::uint32_t u = 0; u < k; ++u) source_.push_back(RandomBytes(symbolSize, rng));
  }

  const Bytes& Source(std::uint32_t id) const { return source_[id]; }
  const Bytes& Symbol(std::uint32_t id) {
    if (id < k_) return source_[id];
    const std::uint32_t coset = id / stride_;
    auto& symbols = symbols_[coset];
    if (symbols.empty()) {
      symbols.assign(stride_, Bytes(size_));
      std::vector<const std::uint8_t*> in;
      for (const auto& s : source_) in.push_back(s.data());
      std::vector<std::uint8_t*> out;
      for (auto& s : symbols) out.push_back(s.data());
      if (coset == 0) {
        std::fill(symbols.begin() + k_, symbols.end(), Bytes(size_, 0));
      } else {
        encoder_.EncodeCoset(k_, size_, in.data(), coset, stride_, out.data());
      }
    }
    return symbols[id % stride_];
  }

  // Runs |decoder| as the engine does and checks every missing source symbol; returns the
  // rebuilt symbols.
  std::vector<Bytes> Decode(WideDecoder& decoder, const std::vector<std::uint16_t>& ids,
                            const std::function<void()>& between = {}) {
    EXPECT_TRUE(decoder.Plan(k_, size_, ids));
    std::vector<std::uint32_t> expectedMissing;
    for (std::uint32_t id = 0; id < k_; ++id) {
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) expectedMissing.push_back(id);
    }
    EXPECT_TRUE(std::ranges::equal(decoder.Missing(), expectedMissing));
    std::vector<Bytes> rebuilt(k_, Bytes(size_, 0xee));
    Bytes buffer(size_);
    EXPECT_EQ(decoder.PassBegin(0), 0u);
    EXPECT_EQ(decoder.PassEnd(decoder.Passes() - 1), size_);
    for (int pass = 0; pass < decoder.Passes(); ++pass) {
      for (std::size_t i = 0; i < ids.size(); ++i) {
        if (decoder.Uses(i)) decoder.Put(i, Symbol(ids[i]).data());
      }
      decoder.Solve(between);
      for (std::uint32_t id : decoder.Missing()) {
        std::fill(buffer.begin(), buffer.end(), 0x5a);
        decoder.Get(id, buffer.data());
        std::copy(buffer.begin() + decoder.PassBegin(pass), buffer.begin() + decoder.PassEnd(pass),
                  rebuilt[id].begin() + decoder.PassBegin(pass));
      }
    }
    for (std::uint32_t id : expectedMissing) {
      EXPECT_EQ(rebuilt[id], source_[id]) << "k " << k_ << " missing source " << id;
    }
    return rebuilt;
  }

 private:
  std::uint32_t k_;
  std::uint32_t stride_;
  std::size_t size_;
  std::vector<Bytes> source_;
  std::vector<std::vector<Bytes>> symbols_;  // per coset
  WideEncoder encoder_;
};

// f(x) for the f of degree below K through the source values and the zero pads: Lagrange's
// formula at element |e|.
std::uint16_t ByDefinition(const Block& block, std::uint32_t k, std::size_t e, std::uint16_t x) {
  const std::uint32_t stride = WideStride(k);
  std::uint16_t sum = 0;
  for (std::uint32_t u = 0; u < k; ++u) {
    std::uint16_t term =
        static_cast<std::uint16_t>(block.Source(u)[2 * e] | block.Source(u)[2 * e + 1] << 8);
    for (std::uint32_t v = 0; v < stride; ++v) {
      if (v != u) term = Mul(term, Mul(x ^ v, Inv(static_cast<std::uint16_t>(u ^ v))));
    }
    sum ^= term;
  }
  return sum;
}

TEST(WideEncoder, RepairSymbolsAreTheBlockPolynomialsValues) {
  std::mt19937 rng(5);
  // 70 bytes: a whole chunk and a partial one.
  for (const std::uint32_t k : {1u, 3u, 8u, 13u}) {
    Block block(k, 70, rng);
    const std::uint32_t stride = WideStride(k);
    for (const std::uint32_t coset : {1u, 2u, kWideSymbolIds / stride - 1}) {
      for (std::uint32_t u = 0; u < stride; ++u) {
        const std::uint32_t id = coset * stride + u;
        const Bytes& symbol = block.Symbol(id);
        for (std::size_t e = 0; e < 35; e += 3) {
          ASSERT_EQ(symbol[2 * e] | symbol[2 * e + 1] << 8,
                    ByDefinition(block, k, e, static_cast<std::uint16_t>(id)))
              << "k " << k << " id " << id << " element " << e;
        }
      }
    }
  }
}

TEST(WideEncoder, AShortCountGivesTheFirstSymbolsOfTheCoset) {
  std::mt19937 rng(6);
  Block block(100, 130, rng);
  std::vector<const std::uint8_t*> in;
  for (std::uint32_t u = 0; u < 100; ++u) in.push_back(block.Source(u).data());
  std::vector<Bytes> few(5, Bytes(130));
  std::vector<std::uint8_t*> out;
  for (auto& s : few) out.push_back(s.data());
  WideEncoder encoder;
  encoder.EncodeCoset(100, 130, in.data(), 3, 5, out.data());
  for (std::uint32_t u = 0; u < 5; ++u) EXPECT_EQ(few[u], block.Symbol(3 * 128 + u));
}

// ids: the block's sources but |lost| of them, and |repair| symbols taken at random from
// cosets [firstCoset, lastCoset].
std::vector<std::uint16_t> Received(std::uint32_t k, std::uint32_t lost, std::uint32_t repair,
                                    std::uint32_t firstCoset, std::uint32_t lastCoset,
                                    std::mt19937& rng) {
  const std::uint32_t stride = WideStride(k);
  std::vector<std::uint16_t> sources(k);
  std::iota(sources.begin(), sources.end(), 0);
  std::shuffle(sources.begin(), sources.end(), rng);
  sources.resize(k - lost);
  std::vector<std::uint16_t> repairs((lastCoset - firstCoset + 1) * stride);
  std::iota(repairs.begin(), repairs.end(), firstCoset * stride);
  std::shuffle(repairs.begin(), repairs.end(), rng);
  repairs.resize(repair);
  sources.insert(sources.end(), repairs.begin(), repairs.end());
  std::shuffle(sources.begin(), sources.end(), rng);
  return sources;
}

TEST(WideDecoder, RebuildsFromAnyKSymbolsAndMore) {
  std::mt19937 rng(7);
  WideDecoder decoder;
  // k, lost, repair received, cosets they come from.
  struct Case {
    std::uint32_t k, lost, repair, first, last;
  };
  for (const Case& c : std::vector<Case>{{1, 1, 1, 1, 1},
                                         {1, 1, 1, 9000, 9000},
                                         {3, 2, 2, 1, 1},
                                         {3, 3, 3, 1, 5},
                                         {100, 30, 30, 1, 1},       // exactly k, window 2K
                                         {100, 30, 40, 1, 1},       // more than k
                                         {100, 90, 90, 2, 3},       // window 4K
                                         {100, 50, 50, 511, 511},   // the whole 65536
                                         {1000, 1000, 1000, 1, 2},  // repair only
                                         {1024, 200, 210, 1, 1},
                                         {16384, 3000, 3000, 1, 1},
                                         {16384, 5, 5, 3, 3}}) {
    Block block(c.k, 6, rng);
    block.Decode(decoder, Received(c.k, c.lost, c.repair, c.first, c.last, rng));
  }
}

TEST(WideDecoder, NothingMissingUsesNothingAndTooFewFail) {
  std::mt19937 rng(8);
  Block block(10, 8, rng);
  WideDecoder decoder;
  std::vector<std::uint16_t> ids = Received(10, 0, 3, 1, 2, rng);
  ASSERT_TRUE(decoder.Plan(10, 8, ids));
  EXPECT_TRUE(decoder.Missing().empty());
  for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_FALSE(decoder.Uses(i));
  // Ids beyond the window that suffices are not read.
  ids = {0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 40};
  ASSERT_TRUE(decoder.Plan(10, 8, ids));
  EXPECT_FALSE(decoder.Uses(10));
  EXPECT_TRUE(decoder.Uses(9));
  EXPECT_FALSE(decoder.Plan(10, 8, Received(10, 5, 4, 1, 1, rng)));
}

TEST(WideDecoder, PassesRebuildWhatOnePassDoes) {
  std::mt19937 rng(9);
  // 300 bytes: 5 chunks, the last partial; a window of 512 chunks of 64 bytes per column.
  Block block(200, 300, rng);
  const auto ids = Received(200, 120, 125, 1, 1, rng);
  WideDecoder whole;
  const auto expected = block.Decode(whole, ids);
  EXPECT_EQ(whole.Passes(), 1);
  for (const std::size_t columns : {1u, 2u, 4u}) {
    WideDecoder sliced(512 * 64 * columns);
    EXPECT_EQ(block.Decode(sliced, ids), expected) << columns << " columns a pass";
    EXPECT_EQ(sliced.Passes(), static_cast<int>((5 + columns - 1) / columns));
  }
}

TEST(WideDecoder, ThreadsShareTheColumnsAndOnlyTheCallerIsCalledBack) {
  std::mt19937 rng(10);
  // 2560 bytes: 40 columns, in a window of 8192 points: worth sharing out. The caller is called
  // back only between columns of its own, so there are enough that it takes several even when
  // the scheduler holds it back while the helper runs.
  Block block(3000, 2560, rng);
  WideDecoder decoder(std::size_t{24} << 20, 2);
  const std::thread::id caller = std::this_thread::get_id();
  int calls = 0;
  bool elsewhere = false;
  block.Decode(decoder, Received(3000, 500, 500, 1, 1, rng), [&] {
    ++calls;
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
  });
  EXPECT_GT(calls, 0);
  EXPECT_FALSE(elsewhere);
}

}  // namespace
}  // namespace ondavox::fcast
