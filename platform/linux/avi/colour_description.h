// The colour description a decoder copies from the bitstream, as the scaler takes it. Decoders
// store whatever number the stream holds in AVFrame's enum fields, so those fields are read as
// plain numbers and only values the scaler knows are passed on.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

struct colour_description {
    int matrix;       // an SWS_CS_* value for sws_getCoefficients
    bool full_range;  // the stored range is 0-255 rather than 16-235
};

// The picture's YUV matrix and range; SWS_CS_DEFAULT and limited range for unknown values.
colour_description frame_colour(const AVFrame* frame);
