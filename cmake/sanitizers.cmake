# Instrumented builds for everything compiled here: core, backends, tests, benchmarks.
#   -DAVISTEP_SANITIZE=address   AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer
#   -DAVISTEP_SANITIZE=thread    ThreadSanitizer
#   -DAVISTEP_FUZZ=ON            clang only: coverage for libFuzzer and the fuzz/ targets
# tools/sanitize.sh and fuzz/build.sh configure these; the options the runs need (suppressions,
# report folders) are set there, not baked into the binaries.
set(AVISTEP_SANITIZE "" CACHE STRING "Sanitizers for every target: address, thread or empty")
set_property(CACHE AVISTEP_SANITIZE PROPERTY STRINGS "" address thread)
option(AVISTEP_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(AVISTEP_SANITIZE STREQUAL "address")
  # Undefined behaviour stops the program like a memory error does, so no test passes over it.
  set(avistep_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(AVISTEP_SANITIZE STREQUAL "thread")
  set(avistep_sanitizer_flags -fsanitize=thread)
elseif(NOT AVISTEP_SANITIZE STREQUAL "")
  message(FATAL_ERROR "AVISTEP_SANITIZE must be address, thread or empty, not '${AVISTEP_SANITIZE}'")
endif()

if(avistep_sanitizer_flags)
  add_compile_options(${avistep_sanitizer_flags} -fno-omit-frame-pointer -g)
  add_link_options(${avistep_sanitizer_flags})
  # GCC's flow analysis is misled by the instrumentation (its documentation says so).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

if(AVISTEP_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "AVISTEP_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # Every library the fuzz targets link reports its coverage to libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
