// The Windows backend's sound conversions, kept per stream while the stream is in use.
#pragma once

#include <cstdint>

struct avi_stream;
struct IAVIStream;

// The library's stream under the service's handle, and in *end the first sample it must not be
// asked for (the stored ones end there); null if its sound must not reach the library at all.
IAVIStream* sound_source(avi_stream* stream, int32_t* end);

// Forgets the stream's conversion; `stream` may be freed afterwards. Null forgets every one.
void sound_forget(avi_stream* stream);
