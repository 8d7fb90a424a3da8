// AVI file service: opens an AVI file, describes its streams, decodes video frames and reads
// audio samples. Handles are opaque; every one taken is given back with its release call.
#pragma once

#include <cstdint>

#include "platform/dib.h"

struct avi_file;
struct avi_stream;
struct avi_frame_decoder;

struct avi_file_info {
    uint32_t streams;  // number of streams in the file
};

struct avi_rect {
    int32_t left, top, right, bottom;
};

// The values stored in the stream's header, unreduced.
struct avi_stream_info {
    uint32_t type;    // four-character code, little-endian: "vids" or "auds"
    uint32_t scale;   // time unit: rate / scale samples per second
    uint32_t rate;
    uint32_t length;  // in samples of the stream (frames for video, blocks for audio)
    avi_rect frame;   // picture rectangle; for video never empty
};

constexpr uint32_t fourcc(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
constexpr uint32_t stream_type_video = fourcc("vids");  // 0x73646976
constexpr uint32_t stream_type_audio = fourcc("auds");  // 0x73647561

// Opens the file read-only; 0 on success with *file set, nonzero on failure (also for no path).
int avi_file_open(avi_file** file, const char* path);
// Fills in the file's description; 0 on success.
int avi_file_get_info(avi_file* file, avi_file_info* info);
// The index-th stream of the file in file order, holding one reference; nullptr if there is none.
avi_stream* avi_file_get_stream(avi_file* file, uint32_t index);
// Takes one more reference on the stream.
void avi_stream_add_ref(avi_stream* stream);
// Fills in the stream's description; 0 on success.
int avi_stream_get_info(avi_stream* stream, avi_stream_info* info);
// A decoder for the video stream's frames in its default decoded format; nullptr if none.
avi_frame_decoder* avi_frame_open(avi_stream* stream);
// Decodes frame `index` into a packed DIB (header then rows), valid until the next call on
// this decoder; nullptr if the frame cannot be decoded.
const bitmap_info_header* avi_frame_get(avi_frame_decoder* decoder, int32_t index);
// Tells the decoder whether its caller reads the rows of the frames it gets from now on (it
// does until told otherwise). When not, every frame is still decoded and described by its
// header, but its rows may be left unconverted: a walk that shows no pictures is spared the
// conversion, which costs about as much as the decoding.
void avi_frame_set_rows_wanted(avi_frame_decoder* decoder, bool wanted);
// Reads whole audio samples from `first` on, at most `count` and at most what fits in
// `buffer_bytes`; returns 0 on success and the bytes and samples read (either pointer may be null).
int avi_stream_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                    int32_t buffer_bytes, int32_t* bytes_read, int32_t* samples_read);
// Makes the audio stream's sound ready for avi_sound_read; 0 if it can be heard, nonzero if no
// decoder exists for it (it then reads as nothing, which the caller plays as silence).
int avi_sound_open(avi_stream* stream);
// Reads the audio stream's sound as 16-bit mono PCM at 32000 Hz, little-endian: samples first..,
// at most `count`; sound stored in another format is converted, and what cannot be decoded is
// silence. Returns 0 on success and the samples read (fewer at the end of the sound).
int avi_sound_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                   int32_t* samples_read);
// Releases a decoder; null is ignored.
void avi_frame_close(avi_frame_decoder* decoder);
// Drops one reference; the stream is freed with its last. Null is ignored.
void avi_stream_release(avi_stream* stream);
// Drops the file's reference; the file closes once no stream holds it either. Null is ignored.
void avi_file_release(avi_file* file);
