// A bounded store of converted pictures, keyed by the frame indexes each one answers, so that a
// frame already seen is given again without decoding. Memory stays within a byte budget: when it
// is full, the picture farthest from the frame last asked for makes room. Not locked: its owner
// serialises all calls, and a slot's block is touched outside that only while the slot is busy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/dib.h"

constexpr int64_t frame_cache_default_budget = int64_t(256) << 20;
// The pictures the playing budget holds where the machine's memory allows.
constexpr int64_t frame_cache_playing_pictures = 24;
// The budget for pictures of `picture_bytes` on a machine with `memory_bytes` of memory (0:
// unknown): two dozen pictures (at 1080p, enough frames behind to step back over while the first
// fill decodes from the keyframe of a 250-frame group), at least 48 MB for small pictures and at
// most 256 MB for large ones, and never more than a sixteenth of the machine's memory.
int64_t frame_cache_budget_for(int64_t picture_bytes, int64_t memory_bytes);
// The budget the cache grows to while the user steps back, for pictures of `picture_bytes`: the
// frames behind must outlast a fill that decodes from the keyframe before (a 1080p H.264 group of
// 250 frames takes 1.4 s, more than a dozen steps), so a sixteenth of the machine's memory, at
// most 2 GB or 256 pictures, and never less than `budget`, the playing one.
int64_t frame_cache_step_budget_for(int64_t picture_bytes, int64_t memory_bytes, int64_t budget);
// More slots would cost lookups and bring little: they already cover many groups of pictures.
constexpr int frame_cache_max_slots = 4096;

struct cache_slot {
    uint8_t* block = nullptr;  // from picture_block_alloc, `capacity` bytes
    size_t capacity = 0;
    const bitmap_info_header* picture = nullptr;  // inside `block` while the slot holds one
    int64_t first = -1, last = -1;  // the frame indexes it answers, a contiguous run; -1: none
    int64_t pts = -1;               // the decoded frame it was converted from
    bool busy = false;              // being converted into; not to be reused or read
};

struct frame_cache {
    int64_t budget = frame_cache_default_budget;
    int64_t bytes = 0;  // allocated in blocks
    int blocks = 0;     // slots holding a block
    std::vector<cache_slot> slots;
    std::vector<int32_t> slot_of;  // frame index -> slot, -1 when not cached
    int lent = -1;          // the slot last handed to the caller; kept until the next request
    int64_t position = 0;   // the frame last asked for: pictures near it are worth keeping
    // While the caller walks forward, the frames this far after the position are read ahead
    // for it: they are kept as the position's own picture is, before any picture behind it.
    int64_t ahead = 0;
    // Likewise the frames this far before it while the caller steps back.
    int64_t behind = 0;
    int64_t conversions = 0;  // pictures converted into the cache, ever
};

// Prepares an empty cache of at most `budget` bytes (at least two pictures whatever their size)
// for a stream of about `frames` frames.
void frame_cache_init(frame_cache* c, int64_t budget, int64_t frames);
// Frees every block, the lent one too.
void frame_cache_free(frame_cache* c);
// Forgets every picture and frees every block not busy or lent.
void frame_cache_clear(frame_cache* c);

// The slot answering frame `index`, or -1.
int frame_cache_find(const frame_cache* c, int64_t index);
// The slot holding the picture decoded from frame `pts`, or -1.
int frame_cache_find_picture(const frame_cache* c, int64_t pts);
// Cached frames next to `from` (excluded) going by `step` (+1 or -1), counting at most `most`.
int64_t frame_cache_run(const frame_cache* c, int64_t from, int step, int64_t most);
// Pictures of `bytes` each that fit the budget.
int frame_cache_capacity(const frame_cache* c, size_t bytes);

// Takes a slot with room for `bytes`, for a picture answering frame `index`, and marks it busy:
// an empty block, or with `grow` a new one while the budget allows, else the picture farthest
// from the position. With `only_farther`, a picture is given up only if it lies farther from the
// position than `index`. -1 if no slot can be had.
int frame_cache_reserve(frame_cache* c, int64_t index, size_t bytes, bool grow, bool only_farther);
// True while a new block of `bytes` would fit the budget.
bool frame_cache_has_room(const frame_cache* c, size_t bytes);
// Sets the byte budget; pictures farthest from the position go until the blocks fit it (all but
// busy and lent ones).
void frame_cache_set_budget(frame_cache* c, int64_t budget);
// Takes a picture_block_alloc'ed block of `bytes` as an empty slot; false (the block stays the caller's)
// when it no longer fits.
bool frame_cache_adopt(frame_cache* c, uint8_t* block, size_t bytes);
// Stores the picture converted into a reserved slot, answering `index`, decoded from `pts`.
void frame_cache_publish(frame_cache* c, int slot, const bitmap_info_header* picture, int64_t pts,
                         int64_t index);
// Gives a reserved slot back empty.
void frame_cache_abandon(frame_cache* c, int slot);
// Lets a cached picture also answer `index` (a dropped frame next to its run).
void frame_cache_extend(frame_cache* c, int slot, int64_t index);
