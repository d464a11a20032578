#include "cli/clip/ClipColor.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>

#include "cli/ExitCodes.h"

namespace kcli {

AVColorSpace defaultMatrix(int width, int height) {
    return width >= 1280 || height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

bool isRgbFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && ((d->flags & AV_PIX_FMT_FLAG_RGB) || (d->flags & AV_PIX_FMT_FLAG_PAL));
}

bool hasAlphaPlane(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}

int componentBits(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d) return 8;
    // A palette's entries are 8-bit, whatever the index width.
    if (d->flags & AV_PIX_FMT_FLAG_PAL) return 8;
    int bits = 0;
    for (int i = 0; i < d->nb_components; ++i) bits = std::max(bits, d->comp[i].depth);
    return bits;
}

ColorTags resolvedTags(ColorTags tags, AVPixelFormat yuvFormat, int width, int height) {
    const bool hd = defaultMatrix(width, height) == AVCOL_SPC_BT709;
    if (tags.matrix == AVCOL_SPC_UNSPECIFIED || tags.matrix == AVCOL_SPC_RESERVED)
        tags.matrix = defaultMatrix(width, height);
    // The yuvj formats are full range by definition; other YUV is video range
    // unless it says otherwise.
    const char* name = av_get_pix_fmt_name(yuvFormat);
    const bool jpeg = name && std::string(name).rfind("yuvj", 0) == 0;
    if (tags.range == AVCOL_RANGE_UNSPECIFIED)
        tags.range = jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    // H.264, HEVC, MPEG-2 and ProRes site chroma on the left sample; JPEG
    // between samples.
    if (tags.siting == AVCHROMA_LOC_UNSPECIFIED)
        tags.siting = jpeg ? AVCHROMA_LOC_CENTER : AVCHROMA_LOC_LEFT;
    if (tags.primaries == AVCOL_PRI_UNSPECIFIED)
        tags.primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    if (tags.transfer == AVCOL_TRC_UNSPECIFIED)
        tags.transfer = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    return tags;
}

ScalerPtr makeScaler(AVPixelFormat from, AVPixelFormat to, int width, int height,
                     const ColorTags& tags) {
    const bool yuvIn = !isRgbFormat(from), yuvOut = !isRgbFormat(to);
    ScalerPtr s(sws_alloc_context());
    if (!s) throw Failure(EXIT_IO, "out of memory for a pixel converter");
    const int flags = yuvIn || yuvOut
                          ? SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP
                          : SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT;
    av_opt_set_int(s.get(), "srcw", width, 0);
    av_opt_set_int(s.get(), "srch", height, 0);
    av_opt_set_int(s.get(), "src_format", from, 0);
    av_opt_set_int(s.get(), "dstw", width, 0);
    av_opt_set_int(s.get(), "dsth", height, 0);
    av_opt_set_int(s.get(), "dst_format", to, 0);
    av_opt_set_int(s.get(), "sws_flags", flags, 0);
    const ColorTags t = resolvedTags(tags, yuvIn ? from : to, width, height);
    const bool fullYuv = t.range == AVCOL_RANGE_JPEG;
    av_opt_set_int(s.get(), "src_range", yuvIn ? fullYuv : 1, 0);
    av_opt_set_int(s.get(), "dst_range", yuvOut ? fullYuv : 1, 0);
    int x = 0, y = 0;
    if (avcodec_enum_to_chroma_pos(&x, &y, t.siting) == 0) {
        av_opt_set_int(s.get(), yuvIn ? "src_h_chr_pos" : "dst_h_chr_pos", x, 0);
        av_opt_set_int(s.get(), yuvIn ? "src_v_chr_pos" : "dst_v_chr_pos", y, 0);
    }
    if (sws_init_context(s.get(), nullptr, nullptr) < 0)
        throw Failure(EXIT_INTERNAL, std::string("no pixel converter from ") +
                                         av_get_pix_fmt_name(from) + " to " +
                                         av_get_pix_fmt_name(to));
    if (yuvIn || yuvOut) {
        const int* coefficients = sws_getCoefficients(t.matrix);
        sws_setColorspaceDetails(s.get(), coefficients, yuvIn ? fullYuv : 1, coefficients,
                                 yuvOut ? fullYuv : 1, 0, 1 << 16, 1 << 16);
    }
    return s;
}

}  // namespace kcli
