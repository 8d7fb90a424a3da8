// The Windows backend's sound conversions, kept per stream while the stream is in use.
#pragma once

struct avi_stream;

// Forgets the stream's conversion; `stream` may be freed afterwards. Null forgets every one.
void sound_forget(avi_stream* stream);
