#include "tools/demo/DemoSamples.h"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace ondavox {
namespace {

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// One second of a 440 Hz sine at 8 kHz, 16-bit mono PCM, in a RIFF/WAVE file.
std::string MakeTone() {
  constexpr uint32_t kRate = 8000;
  constexpr uint32_t kSamples = kRate;
  constexpr uint32_t kDataBytes = kSamples * 2;
  std::string wav = "RIFF";
  PutLittleEndian(wav, 36 + kDataBytes, 4);
  wav += "WAVEfmt ";
  PutLittleEndian(wav, 16, 4);         // format chunk size
  PutLittleEndian(wav, 1, 2);          // PCM
  PutLittleEndian(wav, 1, 2);          // channels
  PutLittleEndian(wav, kRate, 4);      // sample rate
  PutLittleEndian(wav, kRate * 2, 4);  // bytes per second
  PutLittleEndian(wav, 2, 2);          // bytes per frame
  PutLittleEndian(wav, 16, 2);         // bits per sample
  wav += "data";
  PutLittleEndian(wav, kDataBytes, 4);
  for (uint32_t i = 0; i < kSamples; ++i) {
    const double value = 12000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * i / kRate);
    PutLittleEndian(wav, static_cast<uint16_t>(static_cast<int16_t>(std::lround(value))), 2);
  }
  return wav;
}

// A 96 x 64 colour gradient as a binary portable pixmap.
std::string MakePicture() {
  constexpr int kWidth = 96;
  constexpr int kHeight = 64;
  std::string ppm = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      ppm.push_back(static_cast<char>(x * 255 / (kWidth - 1)));
      ppm.push_back(static_cast<char>(y * 255 / (kHeight - 1)));
      ppm.push_back(static_cast<char>(((x / 16 + y / 16) % 2) * 192));
    }
  }
  return ppm;
}

}  // namespace

std::vector<DemoSample> MakeDemoSamples() {
  return {
      {"tone.wav", "audio/x-wav", "One second of A (440 Hz)", MakeTone()},
      {"gradient.ppm", "image/x-portable-pixmap", "A colour gradient", MakePicture()},
      {"welcome.txt", "text/plain", "Welcome note",
       "Welcome to the Ondavox demo.\n"
       "This file came to you from the server by multicast through Fcast.\n"},
  };
}

}  // namespace ondavox
