// What one decoding library does for the AVI file service (platform/avi/avi_service.cpp), which
// holds everything else once for every platform: handles and their references, argument checks,
// the stream descriptions, the lengths held to what the file stores, and the slices' stored-PCM
// path. Each backend implements these with its own library and nothing more: it is asked only
// for streams, frames and samples the service has already judged safe to ask for.
#pragma once

#include <cstdint>

#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_headers.h"
#include "platform/dib.h"

struct avi_frame_decoder;

struct avi_backend_file;    // the library's open file
struct avi_backend_frames;  // the library's decoder of one video stream
struct avi_backend_audio;   // the library's reader of one audio stream's samples and sound

// What the file stores, as the service read it before the library is asked anything.
struct avi_stored_file {
    const avi_raw_headers* headers;  // one stream per entry, in file order
    const avi_chunk_counts* counts;
    bool counted;  // false if the file's chunks could not be counted
};

// Opens the file with the library; nullptr if the library cannot open it.
avi_backend_file* avi_backend_open(const char* path, const avi_stored_file& stored);
// Closes the library's file; called once, after every frames and audio reader is closed.
void avi_backend_close(avi_backend_file* file);
// True if the library found stream `index` (a header list's stream) and its frames or sound may
// be asked for.
bool avi_backend_has_stream(avi_backend_file* file, uint32_t index);
// True if the library can read audio stream `index`'s stored samples one by one.
bool avi_backend_reads_samples(avi_backend_file* file, uint32_t index);

// A decoder of video stream `index`, which holds `frames` frames; nullptr if none opens. It may
// outlive the service's handles on the file, never the backend file itself.
avi_backend_frames* avi_backend_frames_open(avi_backend_file* file, uint32_t index, int64_t frames);
// Frame `index` (0 <= index < frames) as a packed DIB, valid until the next call; nullptr if it
// cannot be decoded.
const bitmap_info_header* avi_backend_frame(avi_backend_frames* frames, int32_t index);
// Whether the caller reads the rows of the frames it gets from now on (see avi_frame_set_rows_wanted).
void avi_backend_frames_rows_wanted(avi_backend_frames* frames, bool wanted);
void avi_backend_frames_close(avi_backend_frames* frames);
// The backend's decoder under the service's handle; nullptr for none.
avi_backend_frames* avi_frame_backend(avi_frame_decoder* decoder);

// A reader of audio stream `index`, whose stored samples are `sample_bytes` bytes each (0: not
// read by sample). Opening it costs nothing: the library is asked only when read.
avi_backend_audio* avi_backend_audio_open(avi_backend_file* file, uint32_t index,
                                          uint32_t sample_bytes);
// Copies `count` (> 0) stored samples from `first` on into `buffer`, which holds them all; the
// stream stores them all. Returns the samples copied (fewer if the library finds fewer), or -1
// on a failure.
int64_t avi_backend_audio_read(avi_backend_audio* audio, int64_t first, int64_t count, void* buffer);
// Makes the stream's sound ready to be read converted; false if no converter exists for it.
bool avi_backend_sound_open(avi_backend_audio* audio);
// After a successful avi_backend_sound_open: the sound as the slices hold it (avi_slice.h),
// samples first.., at most `count`; returns how many (fewer only at the end of the sound).
int64_t avi_backend_sound_read(avi_backend_audio* audio, int64_t first, int64_t count, void* buffer);
void avi_backend_audio_close(avi_backend_audio* audio);
