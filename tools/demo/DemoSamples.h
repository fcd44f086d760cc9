#pragma once

#include <string>
#include <vector>

namespace ondavox {

// One small sample document of the demo, made in memory: a short tone, a picture and a text.
struct DemoSample {
  std::string fileName;
  std::string mimeType;
  std::string description;
  std::string bytes;
};

// The demo's sample documents, the same bytes at every call. Any thread.
std::vector<DemoSample> MakeDemoSamples();

}  // namespace ondavox
