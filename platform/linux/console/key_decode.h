// Bytes from a terminal turned into the key codes a Windows console gives (see platform/console.h).
// Pure: no terminal, no clock; the caller says when no further byte is coming.
#pragma once

#include <cstddef>

enum class key_decode_result { key, need_more };

// Decodes the key at the start of bytes[0..count). On key, *code and *extended hold its codes
// and *used the bytes it took (at least one). need_more when the bytes may be the start of a
// longer sequence; with complete set (no byte followed in time) a key is always decoded.
// Escape sequences give 0 or 224 with the extended code; modifiers are ignored; ESC and another
// key is that key (Alt+x gives x); an unknown sequence is taken whole and gives 27. A UTF-8
// character is taken whole and gives '?': its lead byte could read as 224, the extended prefix.
key_decode_result decode_key(const unsigned char* bytes, size_t count, bool complete, int* code,
                             int* extended, size_t* used);
