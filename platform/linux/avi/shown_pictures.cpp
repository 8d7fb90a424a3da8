#include "platform/linux/avi/shown_pictures.h"

#include "platform/linux/avi/picture_memory.h"

int shown_find(const shown_pictures* s, int64_t pts)
{
    for (int i = 0; i < shown_ring_size; i++) {
        const shown_picture& e = s->entries[i];
        if (e.pts == pts && pts >= 0 && (e.converting || e.picture))
            return i;
    }
    return -1;
}

int shown_take(shown_pictures* s, int64_t pts, size_t bytes)
{
    int oldest = -1;
    for (int i = 0; i < shown_ring_size; i++) {
        const shown_picture& e = s->entries[i];
        if (i != s->lent && !e.converting && (oldest < 0 || e.used < s->entries[oldest].used))
            oldest = i;
    }
    if (oldest < 0 || bytes == 0)
        return -1;
    shown_picture& e = s->entries[oldest];
    e.picture = nullptr;
    e.pts = -1;
    if (e.capacity < bytes) {
        picture_block_free(e.block, e.capacity);
        e.block = picture_block_alloc(bytes);
        e.capacity = e.block ? bytes : 0;
        if (!e.block)
            return -1;
    }
    e.pts = pts;
    e.converting = true;
    e.used = ++s->clock;
    return oldest;
}

void shown_done(shown_pictures* s, int entry, const bitmap_info_header* picture)
{
    shown_picture& e = s->entries[entry];
    e.converting = false;
    e.picture = picture;
    if (picture)
        s->conversions++;
    else
        e.pts = -1;
}

const bitmap_info_header* shown_lend(shown_pictures* s, int entry)
{
    s->lent = entry;
    s->entries[entry].used = ++s->clock;
    return s->entries[entry].picture;
}

void shown_forget(shown_pictures* s)
{
    for (shown_picture& e : s->entries)
        e.pts = -1;
}

void shown_free(shown_pictures* s)
{
    for (shown_picture& e : s->entries)
        picture_block_free(e.block, e.capacity);
    *s = shown_pictures{};
}
