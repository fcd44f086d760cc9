// The entry points of libfcast.so: registration and the object factory, as C functions.
#include <cstring>

#include "common/FcastComponent.h"
#include "fcast/engine/Packet.h"
#include "fcast/lib/FcastObjects.h"

// Registration checks that the engine's building blocks work in this process (the CRC kernel
// gives the standard check value); there is nothing to record on this system.
extern "C" __attribute__((visibility("default"))) long DllRegisterServer() {
  static constexpr char kCheck[] = "123456789";
  const auto crc =
      ondavox::fcast::Crc32c({reinterpret_cast<const std::uint8_t*>(kCheck), sizeof kCheck - 1});
  return crc == 0xE3069283u ? ondavox::kFcastOk : ondavox::kFcastFail;
}

// A new sender (FcastSender*) or receiver (FcastReceiverObject*) for the class id, owned by the
// caller; null for any other id.
extern "C" __attribute__((visibility("default"))) void* FcastCreateObject(const char* classId) {
  if (classId == nullptr) return nullptr;
  if (std::strcmp(classId, ondavox::kFcastSenderClassId) == 0) {
    return static_cast<ondavox::FcastSender*>(new ondavox::fcast::SenderObject);
  }
  if (std::strcmp(classId, ondavox::kFcastReceiverClassId) == 0) {
    return static_cast<ondavox::FcastReceiverObject*>(new ondavox::fcast::ReceiverObject);
  }
  return nullptr;
}
