// A thread that converts decoded pictures handed over to it, one after the other, so that the
// thread handing them over goes on meanwhile: the frame cache has the picture to be shown next
// converted while the one before is shown.
#pragma once

#include <cstdint>

#include "platform/linux/avi/frame_to_dib.h"

struct picture_converter;

// What a handed-over picture answers.
struct picture_job {
    int64_t index = -1;       // the frame asked for
    int64_t pts = -1;         // the frame it was decoded from
    uint64_t generation = 0;  // the fill that decoded it
    int slot = -1;            // where its picture goes
};

// Called on the converter's thread for each picture handed over, in order; `converter` is the
// thread's own.
using picture_work = void (*)(void* owner, dib_converter* converter, const AVFrame* frame,
                              const picture_job& job);

// Starts the thread; nullptr if it cannot be started.
picture_converter* picture_converter_start(picture_work work, void* owner);
// Hands a new reference to `frame` over, waiting while the one before is not yet taken up;
// false (nothing handed over) if the reference cannot be made.
bool picture_converter_put(picture_converter* p, const AVFrame* frame, const picture_job& job);
// Returns once every picture handed over has been dealt with.
void picture_converter_drain(picture_converter* p);
// Deals with what was handed over, ends the thread and frees everything.
void picture_converter_stop(picture_converter* p);
