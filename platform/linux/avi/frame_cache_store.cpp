#include "platform/linux/avi/frame_cache_store.h"

#include <algorithm>
#include <cstdint>

namespace {

// The map from frame indexes to slots is sized for the stream up to this many frames at first
// and grows with the frames actually cached beyond: a damaged length field costs nothing.
constexpr int64_t initial_map_frames = int64_t(1) << 20;

// How far frame `index` lies from the position; 0 within the frames kept for the way the caller
// is going.
int64_t distance_to(const frame_cache* c, int64_t index)
{
    if (index < c->position)
        return c->position - index <= c->behind ? 0 : c->position - index;
    return index - c->position <= c->ahead ? 0 : index - c->position;
}

// How far the slot's picture lies from the position; an empty slot still charged is the first
// to go.
int64_t distance(const frame_cache* c, const cache_slot& s)
{
    if (s.first < 0)
        return INT64_MAX;
    if (c->position < s.first)
        return distance_to(c, s.first);
    if (c->position > s.last)
        return distance_to(c, s.last);
    return 0;
}

bool can_reuse(const frame_cache* c, int slot)
{
    const cache_slot& s = c->slots[size_t(slot)];
    return !s.busy && slot != c->lent;
}

void forget(frame_cache* c, int slot)
{
    cache_slot& s = c->slots[size_t(slot)];
    if (s.first >= 0) {
        for (int64_t i = s.first; i <= s.last; i++) {
            if (c->slot_of[size_t(i)] == slot)
                c->slot_of[size_t(i)] = -1;
        }
    }
    s.first = s.last = s.pts = -1;
    av_frame_free(&s.frame);
}

// Gives the slot's charge back to the budget.
void free_block(frame_cache* c, cache_slot& s)
{
    av_frame_free(&s.frame);
    if (s.capacity == 0)
        return;
    c->bytes -= int64_t(s.capacity);
    c->blocks--;
    s.capacity = 0;
}

void charge(frame_cache* c, cache_slot& s, size_t bytes)
{
    free_block(c, s);
    s.capacity = bytes;
    c->bytes += int64_t(bytes);
    c->blocks++;
}

// The reusable slot whose picture lies farthest from the position, or -1.
int farthest(const frame_cache* c, int except)
{
    int best = -1;
    int64_t best_distance = -2;
    for (int i = 0; i < int(c->slots.size()); i++) {
        if (i == except || !can_reuse(c, i) || c->slots[size_t(i)].capacity == 0)
            continue;
        const int64_t d = distance(c, c->slots[size_t(i)]);
        if (d > best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return best;
}

// Pictures larger than planned can push the blocks over the budget: the farthest go.
void trim_to_budget(frame_cache* c, int keep)
{
    while (c->bytes > c->budget && c->blocks > 2) {
        const int victim = farthest(c, keep);
        if (victim < 0)
            return;
        forget(c, victim);
        free_block(c, c->slots[size_t(victim)]);
    }
}

}  // namespace

size_t frame_cache_frame_bytes(const AVFrame* frame)
{
    size_t bytes = 0;
    for (const AVBufferRef* buffer : frame->buf)
        bytes += buffer ? buffer->size : 0;
    for (int i = 0; i < frame->nb_extended_buf; i++)
        bytes += frame->extended_buf[i]->size;
    return bytes;
}

void frame_cache_init(frame_cache* c, int64_t budget, int64_t frames)
{
    frame_cache_free(c);
    c->budget = std::max<int64_t>(budget, 0);
    c->slot_of.assign(size_t(std::clamp<int64_t>(frames, 0, initial_map_frames)), -1);
    c->slots.reserve(frame_cache_max_slots);
}

void frame_cache_free(frame_cache* c)
{
    for (cache_slot& s : c->slots)
        av_frame_free(&s.frame);
    *c = frame_cache{};
}

void frame_cache_clear(frame_cache* c)
{
    for (int i = 0; i < int(c->slots.size()); i++) {
        if (c->slots[size_t(i)].busy)
            continue;
        // The lent picture stays readable for its caller, but answers no frame any more.
        cache_slot& s = c->slots[size_t(i)];
        AVFrame* lent_frame = i == c->lent ? s.frame : nullptr;
        if (lent_frame)
            s.frame = nullptr;
        forget(c, i);
        if (lent_frame)
            s.frame = lent_frame;
        else
            free_block(c, s);
    }
}

int frame_cache_find(const frame_cache* c, int64_t index)
{
    if (index < 0 || index >= int64_t(c->slot_of.size()))
        return -1;
    return c->slot_of[size_t(index)];
}

int frame_cache_find_picture(const frame_cache* c, int64_t pts)
{
    const int direct = frame_cache_find(c, pts);
    if (direct >= 0 && c->slots[size_t(direct)].pts == pts)
        return direct;
    for (int i = 0; i < int(c->slots.size()); i++) {
        const cache_slot& s = c->slots[size_t(i)];
        if (s.first >= 0 && !s.busy && s.pts == pts)
            return i;
    }
    return -1;
}

int64_t frame_cache_run(const frame_cache* c, int64_t from, int step, int64_t most)
{
    int64_t n = 0;
    for (int64_t i = from + step; n < most && frame_cache_find(c, i) >= 0; i += step)
        n++;
    return n;
}

int frame_cache_capacity(const frame_cache* c, size_t bytes)
{
    const int64_t fit = bytes ? c->budget / int64_t(bytes) : frame_cache_max_slots;
    return int(std::clamp<int64_t>(fit, 2, frame_cache_max_slots));
}

bool frame_cache_has_room(const frame_cache* c, size_t bytes)
{
    return bytes > 0 && c->blocks < frame_cache_capacity(c, bytes) &&
           (c->blocks < 2 || c->bytes + int64_t(bytes) <= c->budget);
}

// An unused slot without a charge, made if need be; -1 when there are as many as may be.
static int blockless_slot(frame_cache* c)
{
    for (int i = 0; i < int(c->slots.size()); i++) {
        if (can_reuse(c, i) && c->slots[size_t(i)].first < 0 && c->slots[size_t(i)].capacity == 0)
            return i;
    }
    if (c->slots.size() >= size_t(frame_cache_max_slots))
        return -1;
    c->slots.emplace_back();
    return int(c->slots.size()) - 1;
}

void frame_cache_set_budget(frame_cache* c, int64_t budget)
{
    c->budget = std::max<int64_t>(budget, 0);
    trim_to_budget(c, -1);
}

int frame_cache_reserve(frame_cache* c, int64_t index, size_t bytes, bool grow, bool only_farther)
{
    if (bytes == 0)
        return -1;
    // A new charge while the budget allows it; at least two whatever the budget.
    int slot = -1;
    if ((grow || c->blocks < 2) && frame_cache_has_room(c, bytes))
        slot = blockless_slot(c);
    // The picture farthest away.
    if (slot < 0) {
        slot = farthest(c, -1);
        if (slot < 0)
            return -1;
        if (only_farther && distance(c, c->slots[size_t(slot)]) <= distance_to(c, index))
            return -1;
    }

    forget(c, slot);
    cache_slot& s = c->slots[size_t(slot)];
    charge(c, s, bytes);
    s.busy = true;
    trim_to_budget(c, slot);
    return slot;
}

bool frame_cache_publish(frame_cache* c, int slot, const AVFrame* frame, int64_t pts,
                         int64_t index)
{
    cache_slot& s = c->slots[size_t(slot)];
    s.busy = false;
    s.frame = av_frame_clone(frame);
    if (!s.frame) {
        forget(c, slot);
        free_block(c, s);
        return false;
    }
    s.pts = pts;
    s.first = s.last = index;
    if (index >= int64_t(c->slot_of.size()))
        c->slot_of.resize(size_t(index) + 1, -1);
    if (c->slot_of[size_t(index)] < 0)
        c->slot_of[size_t(index)] = slot;
    c->stored++;
    return true;
}

void frame_cache_abandon(frame_cache* c, int slot)
{
    cache_slot& s = c->slots[size_t(slot)];
    s.busy = false;
    forget(c, slot);
    free_block(c, s);
}

void frame_cache_extend(frame_cache* c, int slot, int64_t index)
{
    cache_slot& s = c->slots[size_t(slot)];
    if (s.first < 0 || index < 0)
        return;
    const int64_t first = std::min(s.first, index);
    const int64_t last = std::max(s.last, index);
    if (last >= int64_t(c->slot_of.size()))
        c->slot_of.resize(size_t(last) + 1, -1);
    // Only the indexes newly covered: a long run of dropped frames is walked once, not per frame.
    auto claim = [&](int64_t from, int64_t to) {
        for (int64_t i = from; i < to; i++) {
            if (c->slot_of[size_t(i)] < 0)
                c->slot_of[size_t(i)] = slot;
        }
    };
    claim(first, s.first);
    claim(s.last + 1, last + 1);
    s.first = first;
    s.last = last;
}
