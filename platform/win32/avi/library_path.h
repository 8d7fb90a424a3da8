// The path under which the platform's AVI library is given a file. The library writes a default
// name for every stream it opens, "<file name> <type> #<n>", into the stream description's
// 64-character name field without bounding it: a longer name overruns the field into the
// stream's own pointers, and the open then fails or faults (Wine's library, measured: file names
// of 56 characters and more give a page fault, which hangs the run in the debugger Wine starts,
// or a "file open" error; 53 and fewer open).
#pragma once

#include <string>

// The longest file name (the last part of a path) the library is given.
constexpr size_t library_name_limit = 40;

// `path` itself when its file name is short enough, else its short (8.3) form if the file
// system keeps one; empty when the library must not be given the file at all.
std::string library_path(const char* path);
// The length of the last part of `path`, after its last '\', '/' or ':'.
size_t path_name_length(const std::string& path);
