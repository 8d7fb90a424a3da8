// The packed DIBs of the frames shown: a decoded picture is converted when it is shown (or just
// before, when the next one can be foreseen) into one of a small ring of buffers, where it stays
// valid until the next picture is handed out. Not locked: its owner serialises all calls, and an
// entry's block is written outside that only while the entry is marked converting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dib.h"

// The one handed out and the next one, converted while the first is shown.
constexpr int shown_ring_size = 2;

struct shown_picture {
    uint8_t* block = nullptr;  // from picture_block_alloc, `capacity` bytes
    size_t capacity = 0;
    const bitmap_info_header* picture = nullptr;  // inside `block` once converted
    int64_t pts = -1;         // the decoded frame it shows or is being converted from; -1: none
    bool converting = false;  // being written; not to be read or taken
    uint64_t used = 0;        // when it was last taken or handed out: the oldest goes first
};

struct shown_pictures {
    shown_picture entries[shown_ring_size];
    int lent = -1;  // handed out; kept until the next picture is
    uint64_t clock = 0;
    int64_t conversions = 0;  // pictures converted, ever
};

// The entry showing, or being converted from, decoded frame `pts`; -1 if none.
int shown_find(const shown_pictures* s, int64_t pts);
// Takes the oldest entry neither lent nor converting, with a block of at least `bytes`, and
// marks it converting from `pts`; -1 if there is none or the memory cannot be had.
int shown_take(shown_pictures* s, int64_t pts, size_t bytes);
// Ends the conversion into `entry`: its picture, or nullptr when the conversion failed.
void shown_done(shown_pictures* s, int entry, const bitmap_info_header* picture);
// Hands the entry's picture out: it stays as it is until the next one is handed out.
const bitmap_info_header* shown_lend(shown_pictures* s, int entry);
// Forgets which frames the entries show; their blocks stay, the lent picture readable.
void shown_forget(shown_pictures* s);
// Frees every block.
void shown_free(shown_pictures* s);
