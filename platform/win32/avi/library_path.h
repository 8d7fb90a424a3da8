// The path under which the platform's AVI library is given a file. The library writes a default
// name for every stream it opens, "<file name> <type> #<n>", into the stream description's
// 64-character name field without bounding it: a file name of about 50 characters or more
// overruns the field into the stream's own pointers, and the open then fails or faults (Wine's
// library, measured: from about 55 characters on, a fault or "file open" error).
#pragma once

#include <string>

// The longest file name (the last part of a path) the library is given.
constexpr size_t library_name_limit = 40;

// `path` itself when its file name is short enough, else its short (8.3) form if the file
// system keeps one; empty when the library must not be given the file at all.
std::string library_path(const char* path);
// The length of the last part of `path`, after its last '\', '/' or ':'.
size_t path_name_length(const std::string& path);
