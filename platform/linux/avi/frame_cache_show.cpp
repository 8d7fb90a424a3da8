#include "platform/linux/avi/frame_cache_state.h"

namespace frame_cache_internal {

// Converts `frame` into the shown entry `entry` (outside the lock) with `converter`.
void convert_shown(cached_frames* f, dib_converter* converter, const AVFrame* frame, int entry,
                   guard& held)
{
    uint8_t* block = f->shown.entries[entry].block;
    const size_t capacity = f->shown.entries[entry].capacity;
    held.unlock();
    const auto converting = clock_type::now();
    const bitmap_info_header* picture = frame_to_dib_in(converter, frame, block, capacity);
    const double took = ms_since(converting);
    held.lock();
    if (picture)
        note_cost(&f->convert_ms, took);
    shown_done(&f->shown, entry, picture);
    f->changed.notify_all();
}

// The converter thread, for the picture foreseen to be shown next.
void convert_handed_over(void* owner, dib_converter* converter, const AVFrame* frame,
                         const picture_job& job)
{
    cached_frames* f = static_cast<cached_frames*>(owner);
    guard held(f->lock);
    convert_shown(f, converter, frame, job.slot, held);
    f->converting_ahead = false;
    f->changed.notify_all();
}

// Has the converter thread convert the frame the user is likely to ask for next (the one after
// the last, going the same way), once it is cached, while the last one is shown.
void convert_ahead(cached_frames* f)
{
    if (!f->ahead || f->converting_ahead || !f->rows_wanted || f->direction == 0 || f->stop)
        return;
    const int slot = frame_cache_find(&f->cache, f->cache.position + f->direction);
    if (slot < 0)
        return;
    const cache_slot& s = f->cache.slots[size_t(slot)];
    if (!s.frame || shown_find(&f->shown, s.pts) >= 0)
        return;
    const int entry = shown_take(&f->shown, s.pts, dib_block_bytes(s.frame));
    if (entry < 0)
        return;
    f->converting_ahead = true;
    if (!picture_converter_put(f->ahead, s.frame, {s.first, s.pts, 0, entry})) {
        shown_done(&f->shown, entry, nullptr);
        f->converting_ahead = false;
    }
}

// The packed DIB of the picture in `slot`: the one converted ahead if it is that one (waiting
// for its conversion to end), else converted now.
const bitmap_info_header* show(cached_frames* f, int slot, guard& held)
{
    const int64_t pts = f->cache.slots[size_t(slot)].pts;
    int entry = shown_find(&f->shown, pts);
    if (entry >= 0 && f->shown.entries[entry].converting) {
        f->stats.waits++;
        f->changed.wait(held, [&] {
            return f->shown.entries[entry].pts != pts || !f->shown.entries[entry].converting;
        });
        entry = shown_find(&f->shown, pts);
    }
    if (entry >= 0 && !f->shown.entries[entry].converting)
        return shown_lend(&f->shown, entry);
    AVFrame* frame = av_frame_clone(f->cache.slots[size_t(slot)].frame);
    entry = frame ? shown_take(&f->shown, pts, dib_block_bytes(frame)) : -1;
    if (entry >= 0)
        convert_shown(f, &f->own.converter, frame, entry, held);
    av_frame_free(&frame);
    if (entry < 0 || !f->shown.entries[entry].picture)
        return nullptr;
    return shown_lend(&f->shown, entry);
}

}  // namespace frame_cache_internal
