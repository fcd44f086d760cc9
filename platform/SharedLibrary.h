#pragma once

#include <string>

#include "platform/Status.h"

namespace ondavox {

// One reference to a library loaded at run time (dlopen); the library stays loaded while any
// reference to it exists. Movable, not copyable. Any thread.
class SharedLibrary {
 public:
  // Loads |path| (a bare name is searched the dynamic linker's way). On failure returns an I/O
  // error with the loader's reason.
  static StatusOr<SharedLibrary> Open(const std::string& path);

  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  // The address of the exported |name|, or null.
  void* Symbol(const char* name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace ondavox
