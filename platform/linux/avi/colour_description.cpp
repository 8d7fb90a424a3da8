#include "platform/linux/avi/colour_description.h"

#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

// The field's bytes as an int: loading an enum that holds a value outside its enumerators is
// undefined, and a damaged or hostile stream puts any number there.
template <typename Enum>
int stored_number(const Enum& field)
{
    static_assert(sizeof(Enum) == sizeof(int), "AVFrame's colour fields are int-sized enums");
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The matrices the scaler has coefficients for, numbered as AVColorSpace numbers them.
int scaler_matrix(int space)
{
    switch (space) {
    case AVCOL_SPC_RGB:  // a YUV picture labelled RGB: the scaler's own choice for it
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_UNSPECIFIED:
    case AVCOL_SPC_RESERVED:
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return space;
    default:
        return SWS_CS_DEFAULT;
    }
}

}  // namespace

colour_description frame_colour(const AVFrame* frame)
{
    return {scaler_matrix(stored_number(frame->colorspace)),
            stored_number(frame->color_range) == AVCOL_RANGE_JPEG};
}
