// A small check harness for the Windows backend: no test framework is cross-built for Windows.
#pragma once

#include <string>

// Records one check; prints the failing ones with where they are.
bool check_that(bool ok, const char* what, const char* file, int line);
#define CHECK(cond) check_that((cond), #cond, __FILE__, __LINE__)

// Each group of checks; called by main in order.
void check_console_keys();
void check_sound();
// The AVI service's contract cases, writing their clips in `folder`.
void check_avi_contract(const std::string& folder);
void check_chunk_read(const std::string& folder);
// Reads the tone clips the smoke test left in `folder`.
void check_sound_read(const std::string& folder);
void check_window();
// With --console-keys N: reads N keys from the console and prints their codes.
int print_console_keys(int count);
