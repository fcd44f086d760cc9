# One INTERFACE target carries the language level, warnings and sanitizer flags of every
# target of the project.
add_library(ondavox_options INTERFACE)
target_compile_features(ondavox_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

target_compile_options(ondavox_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(ondavox_options INTERFACE -Wthread-safety)
endif()
if(ONDAVOX_WERROR)
  target_compile_options(ondavox_options INTERFACE -Werror)
endif()

if(ONDAVOX_SANITIZE STREQUAL "asan")
  set(_ondavox_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(ONDAVOX_SANITIZE STREQUAL "tsan")
  set(_ondavox_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT ONDAVOX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ONDAVOX_SANITIZE must be empty, asan or tsan")
endif()
if(_ondavox_san)
  target_compile_options(ondavox_options INTERFACE ${_ondavox_san})
  target_link_options(ondavox_options INTERFACE ${_ondavox_san})
endif()

# libFuzzer exists only with clang; other compilers build the fuzz targets over a small
# replay-and-mutate driver so the smoke runs still happen in every build.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(ONDAVOX_LIBFUZZER ON)
else()
  set(ONDAVOX_LIBFUZZER OFF)
endif()

find_package(Threads REQUIRED)
