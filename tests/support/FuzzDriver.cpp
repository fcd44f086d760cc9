// A small stand-in for libFuzzer's driver, for compilers without it. It accepts the same
// "-runs=N" and "-seed=S" flags and file arguments: each file is run once, then N inputs are
// made by mutating the previous ones (byte flips, insertions, deletions, splices) and run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Input = std::vector<uint8_t>;

void RunOne(const Input& input) { LLVMFuzzerTestOneInput(input.data(), input.size()); }

Input Mutate(const std::vector<Input>& pool, std::mt19937_64& rng) {
  Input input = pool[rng() % pool.size()];
  const int edits = 1 + static_cast<int>(rng() % 8);
  for (int i = 0; i < edits; ++i) {
    switch (rng() % 5) {
      case 0:
        if (!input.empty()) input[rng() % input.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        input.insert(input.begin() + static_cast<long>(rng() % (input.size() + 1)),
                     static_cast<uint8_t>(rng()));
        break;
      case 2:
        if (!input.empty()) input.erase(input.begin() + static_cast<long>(rng() % input.size()));
        break;
      case 3: {
        const Input& other = pool[rng() % pool.size()];
        if (!other.empty()) {
          const size_t from = rng() % other.size();
          const size_t count = 1 + rng() % (other.size() - from);
          input.insert(input.begin() + static_cast<long>(rng() % (input.size() + 1)),
                       other.begin() + static_cast<long>(from),
                       other.begin() + static_cast<long>(from + count));
        }
        break;
      }
      default: {
        static const uint8_t kInteresting[] = {0, 1, 9, 10, 13, 0x7f, 0x80, 0xff};
        if (!input.empty()) input[rng() % input.size()] = kInteresting[rng() % sizeof kInteresting];
        break;
      }
    }
  }
  if (input.size() > 4096) input.resize(4096);  // libFuzzer's default -max_len
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 10000;
  unsigned long long seed = 1;
  std::vector<Input> pool{Input{}};
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-runs=", 6) == 0) {
      runs = std::atol(argv[i] + 6);
    } else if (std::strncmp(argv[i], "-seed=", 6) == 0) {
      seed = std::strtoull(argv[i] + 6, nullptr, 10);
    } else if (argv[i][0] != '-') {
      std::ifstream in(argv[i], std::ios::binary);
      Input input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      RunOne(input);
      pool.push_back(std::move(input));
    }
  }
  std::mt19937_64 rng(seed);
  for (long i = 0; i < runs; ++i) {
    Input input = Mutate(pool, rng);
    RunOne(input);
    if (pool.size() < 256) pool.push_back(std::move(input));
    else pool[rng() % pool.size()] = std::move(input);
  }
  std::printf("Done %ld runs\n", runs);
  return 0;
}
