// A bounded store of decoded pictures, kept as the decoder made them (references to its frames,
// in their own pixel format), keyed by the frame indexes each one answers, so that a frame already
// seen is given again without decoding. Memory stays within a byte budget: when it is full, the
// picture farthest from the frame last asked for makes room. Not locked: its owner serialises all
// calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

// More slots would cost lookups and bring little: they already cover many groups of pictures.
constexpr int frame_cache_max_slots = 4096;

struct cache_slot {
    AVFrame* frame = nullptr;  // the slot's own reference while it holds a picture
    // The bytes the slot's picture is charged for (its block of the budget), kept from its
    // reservation to its going.
    size_t capacity = 0;
    int64_t first = -1, last = -1;  // the frame indexes it answers, a contiguous run; -1: none
    int64_t pts = -1;               // the decoded frame its picture is
    bool busy = false;              // reserved for a picture to come; not to be reused or read
};

// The bytes a decoded frame's buffers hold.
size_t frame_cache_frame_bytes(const AVFrame* frame);

struct frame_cache {
    int64_t budget = 0;
    int64_t bytes = 0;  // charged to slots
    int blocks = 0;     // slots charged
    std::vector<cache_slot> slots;
    std::vector<int32_t> slot_of;  // frame index -> slot, -1 when not cached
    int lent = -1;          // the slot last handed to the caller; kept until the next request
    int64_t position = 0;   // the frame last asked for: pictures near it are worth keeping
    // While the caller walks forward, the frames this far after the position are read ahead
    // for it: they are kept as the position's own picture is, before any picture behind it.
    int64_t ahead = 0;
    // Likewise the frames this far before it while the caller steps back.
    int64_t behind = 0;
    int64_t stored = 0;  // pictures stored, ever
};

// Prepares an empty cache of at most `budget` bytes (at least two pictures whatever their size)
// for a stream of about `frames` frames.
void frame_cache_init(frame_cache* c, int64_t budget, int64_t frames);
// Lets go of every picture, the lent one too.
void frame_cache_free(frame_cache* c);
// Forgets every picture and lets go of every one not busy or lent.
void frame_cache_clear(frame_cache* c);

// The slot answering frame `index`, or -1.
int frame_cache_find(const frame_cache* c, int64_t index);
// The slot holding the picture decoded from frame `pts`, or -1.
int frame_cache_find_picture(const frame_cache* c, int64_t pts);
// Cached frames next to `from` (excluded) going by `step` (+1 or -1), counting at most `most`.
int64_t frame_cache_run(const frame_cache* c, int64_t from, int step, int64_t most);
// Pictures of `bytes` each that fit the budget.
int frame_cache_capacity(const frame_cache* c, size_t bytes);

// Takes a slot charged `bytes`, for a picture answering frame `index`, and marks it busy: with
// `grow` a new charge while the budget allows (two whatever the budget), else the place of the
// picture farthest from the position. With `only_farther`, a picture is given up only if it lies farther from the
// position than `index`. -1 if no slot can be had.
int frame_cache_reserve(frame_cache* c, int64_t index, size_t bytes, bool grow, bool only_farther);
// True while a new charge of `bytes` would fit the budget.
bool frame_cache_has_room(const frame_cache* c, size_t bytes);
// Sets the byte budget; pictures farthest from the position go until the charges fit it (all
// but busy and lent ones).
void frame_cache_set_budget(frame_cache* c, int64_t budget);
// Stores a new reference to `frame` in a reserved slot, answering `index`, decoded from `pts`;
// false (the slot given back empty) if the reference cannot be made.
bool frame_cache_publish(frame_cache* c, int slot, const AVFrame* frame, int64_t pts,
                         int64_t index);
// Gives a reserved slot back empty.
void frame_cache_abandon(frame_cache* c, int slot);
// Lets a cached picture also answer `index` (a dropped frame next to its run).
void frame_cache_extend(frame_cache* c, int slot, int64_t index);
