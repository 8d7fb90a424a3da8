// The services under test open files by path: each fuzz input is written to one scratch file.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the input to the process's scratch file (in memory-backed /dev/shm when there is one,
// removed at exit) and returns its path; nullptr if it could not be written.
const char* write_scratch_file(const uint8_t* data, size_t size);
