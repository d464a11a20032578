// How a clip's YUV pixels become the host's RGB and back: the matrix, range
// and chroma siting a stream declares, and what to assume when it does not.
#pragma once

#include "cli/clip/Libav.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace kcli {

struct ColorTags {
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVChromaLocation siting = AVCHROMA_LOC_UNSPECIFIED;
};

// BT.709 for HD and larger, BT.601 below: what undeclared footage of each
// size was made with.
AVColorSpace defaultMatrix(int width, int height);

bool isRgbFormat(AVPixelFormat format);
bool hasAlphaPlane(AVPixelFormat format);
// Bits of the deepest component.
int componentBits(AVPixelFormat format);

// A converter between two pixel formats of the same size. YUV on either
// side is read or written with `tags`' matrix, range and siting (the
// undeclared ones filled in as footage of this size is made), with
// accurate rounding and chroma at full resolution. RGB to RGB only moves
// bits. Throws Failure(EXIT_INTERNAL) if the converter refuses.
ScalerPtr makeScaler(AVPixelFormat from, AVPixelFormat to, int width, int height,
                     const ColorTags& tags);

// The tags a YUV stream of this size is converted with: declared ones kept,
// the others filled in.
ColorTags resolvedTags(ColorTags tags, AVPixelFormat yuvFormat, int width, int height);

}  // namespace kcli
