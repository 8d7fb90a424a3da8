// The frame cache's planning rules, pure: how much it keeps, from what stepping needs rather
// than from the machine's memory (enough frames behind the user to outlast one refill from the
// group's keyframe at the user's pace, the frames read ahead of playback, and no more), and
// which frames a fill behind the user decodes.
#pragma once

#include <cstdint>

// What stepping over a stream costs and how fast the user goes.
struct stepping_pace {
    double decode_ms = 0;       // decoding one frame, as measured (0: not yet)
    double step_ms = 100;       // between two of the user's steps (a dialog answered)
    int64_t longest_group = 0;  // frames from a keyframe to the farthest one decoded from it
    int64_t ahead = 8;          // frames read ahead of playback
};

// Pictures the cache holds before the decoding is timed.
constexpr int64_t frame_cache_untimed_pictures = 24;
// Below this many pictures the cache keeps no frames ahead of need: one is shown, one in hand,
// and the rest would be too few to be worth a second decoder.
constexpr int64_t frame_cache_least_pictures = 8;

// Frames kept behind the user so that stepping back over them at the user's pace lasts as long
// as one refill decoding from the keyframe of the longest group: each step brings the refill
// one frame of decoding nearer, group * decode / (step + decode), rounded up.
int64_t frames_to_keep_behind(const stepping_pace& pace);
// Pictures while playing: the frames kept behind (a step back right after playing waits for
// nothing), the frames read ahead, the one shown and one in hand.
int64_t playing_pictures(const stepping_pace& pace);
// Pictures while the user steps back: the frames kept behind and a refill of as many arriving
// beside them, the one shown and one in hand; never below the playing ones, and never more
// than a whole group beside them.
int64_t stepping_pictures(const stepping_pace& pace);
// Frames read ahead of playback: as many as take eight frames' decoding to make at a slice
// each (`slice_ms`), so that a burst that slow is absorbed; 3 to 8.
int64_t frames_to_read_ahead(double decode_ms, double slice_ms);
// Below this many bytes memory is not worth saving: small pictures are kept by the hundred.
constexpr int64_t frame_cache_least_budget = int64_t(8) << 20;
// A budget of `pictures` pictures of `picture_bytes` each, at least frame_cache_least_budget.
int64_t budget_for_pictures(int64_t pictures, int64_t picture_bytes);

// Frames a fill behind the user must bring to be worth decoding `decoded` frames from the
// keyframe: the user steps over them (`step_ms` apart, each step's own conversion of
// `convert_ms` aside) more slowly than the next fill decodes from its keyframe.
int64_t frames_worth_filling(int64_t decoded, double decode_ms, double step_ms,
                             double convert_ms);

// A run of frames to fill; none when `to` < `from`.
struct fill_range {
    int64_t from = 0;
    int64_t to = -1;
};

// Stepping back at `index` with `cached_behind` frames cached right before it, of `keep` kept
// behind: the fill that brings the frames before the cached run, decoding from `first` (the
// first frame its keyframe reaches) up to the frame before the run. As many as there is room
// for, once there is room for a batch worth its decoding (`worth`) or, where none would be, for
// half the frames kept behind; until then none, and the next steps back make room.
fill_range fill_behind_range(int64_t index, int64_t cached_behind, int64_t keep, int64_t first,
                             int64_t worth);
