#include "common/FcastComponent.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/Trace.h"

namespace ondavox {
namespace {

using RegisterFn = long (*)();
using FactoryFn = void* (*)(const char* classId);

std::optional<SharedLibrary> LoadFirst(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    StatusOr<SharedLibrary> library = SharedLibrary::Open(path);
    if (library.ok()) return std::move(*library);
  }
  return std::nullopt;
}

void Register(const FcastMessageHook& message, const std::vector<std::string>& candidates) {
  const std::string file = kFcastLibraryName;
  std::optional<SharedLibrary> library = LoadFirst(candidates);
  if (!library) {
    message("Can't load " + file);
    return;
  }
  auto entry = reinterpret_cast<RegisterFn>(library->Symbol(kFcastRegisterEntry));
  if (entry == nullptr) {
    message("Can't find " + std::string(kFcastRegisterEntry) + " in " + file);
    return;
  }
  if (entry() < 0) {
    message("Can't register " + file);
    return;
  }
  DebugOut(file + " successfully registered.\n");
}

template <class Interface>
FcastObject<Interface> Create(const FcastMessageHook& message,
                              const std::vector<std::string>& candidates, const char* classId) {
  Register(message, candidates);
  std::optional<SharedLibrary> library = LoadFirst(candidates);
  if (!library) return {};
  auto factory = reinterpret_cast<FactoryFn>(library->Symbol(kFcastFactoryEntry));
  if (factory == nullptr) return {};
  auto* object = static_cast<Interface*>(factory(classId));
  if (object == nullptr) return {};
  return FcastObject<Interface>(std::move(*library), std::unique_ptr<Interface>(object));
}

}  // namespace

std::vector<std::string> FcastLibraryCandidates() {
  std::vector<std::string> candidates;
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path folder = executable.parent_path();
    candidates.push_back((folder / kFcastLibraryName).string());
    candidates.push_back((folder.parent_path() / "lib" / kFcastLibraryName).string());
  }
  candidates.push_back(kFcastLibraryName);
  return candidates;
}

FcastObject<FcastSender> CreateFcastSender(const FcastMessageHook& message,
                                           const std::vector<std::string>& candidates) {
  return Create<FcastSender>(message, candidates, kFcastSenderClassId);
}

FcastObject<FcastReceiverObject> CreateFcastReceiver(const FcastMessageHook& message,
                                                     const std::vector<std::string>& candidates) {
  return Create<FcastReceiverObject>(message, candidates, kFcastReceiverClassId);
}

}  // namespace ondavox
