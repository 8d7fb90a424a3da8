// Random access to the decoded frames of one video stream: frame k by index, decoding on from
// the current position when that is cheaper, else seeking to the keyframe at or before k.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

constexpr int video_frames_threads_by_size = -1;

struct video_frames {
    AVFormatContext* input = nullptr;  // owned: this decoder's own demuxer
    int stream = -1;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    int64_t limit = 0;  // frames the stream holds; 0 if unknown
    // How far the codec's frame timestamps run ahead of display order: files storing B-frames in
    // decoding order without presentation times label each picture with the position of the
    // packet that released it.
    int64_t reorder_delay = 0;

    // Frames pulled from the codec since the last seek: `held` is the newest at or before the
    // last requested index, `pending` one pulled beyond it.
    AVFrame* held = nullptr;
    AVFrame* pending = nullptr;
    int64_t held_pts = 0;
    int64_t pending_pts = 0;
    bool has_held = false;
    bool has_pending = false;
    bool positioned = false;   // the codec has been fed from a known place since the last seek
    int64_t seek_key = 0;      // decoding position of the keyframe last sought
    int64_t last_pts = -1;     // the newest frame pulled
    bool input_done = false;   // the demuxer is exhausted and the codec was told so
    // Decoding position past which a request stops reading: a frame that never comes out of a
    // damaged stream is not looked for all the way to its end, again for every frame after it.
    int64_t read_limit = INT64_MAX;
};

// Takes ownership of `input` (also on failure) and prepares decoding of its stream `stream` with
// `threads` codec threads (0: as many as the machine has; video_frames_threads_by_size: one for
// small pictures, the machine's cores for large ones); false if no decoder can be opened.
bool video_frames_open(video_frames* v, AVFormatContext* input, int stream, int64_t limit,
                       int threads);
// The decoded picture for frame `index`, with the index of the frame it came from in *pts (an
// earlier one for a dropped frame); nullptr if the frame does not exist or cannot be decoded.
// Valid until the next call on `v`.
const AVFrame* video_frames_decode(video_frames* v, int64_t index, int64_t* pts);
// True when frame `index` is reached by decoding on from where `v` stands, without a seek.
bool video_frames_can_decode_on(const video_frames* v, int64_t index);
// The first frame at or before `index` that decoding reaches from the same keyframe as `index`:
// going back to it costs no seek further back.
int64_t video_frames_first_from_key(const video_frames* v, int64_t index);
// The most frames decoding must go through from a keyframe to reach a frame of the stream: the
// longest run between two keyframes (or to the end). 0 if the stream has no index.
int64_t video_frames_longest_group(const video_frames* v);
void video_frames_close(video_frames* v);
