#include "cli/clip/ClipFormats.h"

#include <cstring>
#include <string>

namespace kcli {
namespace {

const ClipDefault DEFAULTS[] = {
    {"mov", ".mov", "prores_ks", "ProRes 4444, 10-bit 4:4:4 with 16-bit alpha"},
    {"matroska", ".mkv", "ffv1", "FFV1, lossless RGBA, 8 or 16 bits as rendered"},
    {"webm", ".webm", "libvpx-vp9", "VP9 with alpha, 4:2:0, constant quality 30"},
    {"avi", ".avi", "ffv1", "FFV1, lossless RGBA, 8 or 16 bits as rendered"},
    {"mp4", ".mp4", "libx264", "H.264 4:2:0, no alpha (matte views only)"},
    {"mxf", ".mxf", "dnxhd", "DNxHR 444, 10-bit, no alpha (matte views only)"},
};

}  // namespace

const ClipDefault* clipDefaultFor(const char* muxer) {
    for (const ClipDefault& row : DEFAULTS)
        if (std::strcmp(row.muxer, muxer) == 0) return &row;
    return nullptr;
}

AVPixelFormat preferredPixelFormat(const std::string& e, Depth depth) {
    if (e == "prores_ks") return AV_PIX_FMT_YUVA444P10LE;
    // Lossless at the depth rendered (float kept as 16 bits).
    if (e == "ffv1") return depth == Depth::U8 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_GBRAP16LE;
    if (e == "libvpx-vp9") return AV_PIX_FMT_YUVA420P;
    if (e == "dnxhd") return AV_PIX_FMT_YUV444P10LE;
    // What every player decodes, for the mattes.
    if (e == "libx264" || e == "libx265") return AV_PIX_FMT_YUV420P;
    return AV_PIX_FMT_NONE;
}

const char* const* defaultEncoderOptions(const std::string& e) {
    static const char* const PRORES[] = {"profile", "4444", nullptr};
    // Level 3 codes slices in parallel and checks each with a CRC.
    static const char* const FFV1[] = {"level", "3", "slicecrc", "1", nullptr};
    // libvpx's own default is a low bit rate, unfit for keyed footage.
    static const char* const VP9[] = {"crf",      "30",   "b",        "0", "row-mt", "1",
                                      "deadline", "good", "cpu-used", "4", nullptr};
    static const char* const DNXHR[] = {"profile", "dnxhr_444", nullptr};
    static const char* const NONE[] = {nullptr};
    if (e == "prores_ks") return PRORES;
    if (e == "ffv1") return FFV1;
    if (e == "libvpx-vp9") return VP9;
    if (e == "dnxhd") return DNXHR;
    return NONE;
}

std::string clipFormatsHelp() {
    std::string text;
    for (const ClipDefault& row : DEFAULTS) {
        std::string ext = row.extensions;
        ext.resize(7, ' ');
        text += std::string("  ") + ext + row.encoder + ": " + row.description + "\n";
    }
    return text;
}

}  // namespace kcli
