#include "cli/clip/FramePool.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
}

#include <cstddef>

namespace kcli {
namespace {

// Laid out as libavutil lays out its own frames, for the converters' and
// encoders' vector loads and for encoders that read whole macroblocks past
// the last row: rows and the gaps between planes a multiple of 64 bytes, the
// height padded to 32 rows.
constexpr int ALIGN = 64;
constexpr int PADDED_ROWS = 32;

}  // namespace

int FramePool::init(AVPixelFormat format, int width, int height) {
    int err = av_image_fill_linesizes(linesize_, format, FFALIGN(width, ALIGN));
    if (err < 0) return err;
    ptrdiff_t lines[4];
    for (int i = 0; i < 4; ++i) lines[i] = linesize_[i] = FFALIGN(linesize_[i], ALIGN);
    size_t sizes[4];
    err = av_image_fill_plane_sizes(sizes, format, FFALIGN(height, PADDED_ROWS), lines);
    if (err < 0) return err;
    size_t total = 4 * ALIGN;
    for (size_t s : sizes) total += s;
    av_buffer_pool_uninit(&pool_);
    pool_ = av_buffer_pool_init(total, nullptr);
    if (!pool_) return AVERROR(ENOMEM);
    format_ = format;
    width_ = width;
    height_ = height;
    return 0;
}

int FramePool::get(AVFrame* frame) const {
    AVBufferRef* buffer = av_buffer_pool_get(pool_);
    if (!buffer) return AVERROR(ENOMEM);
    frame->buf[0] = buffer;
    frame->format = format_;
    frame->width = width_;
    frame->height = height_;
    for (int i = 0; i < 4; ++i) frame->linesize[i] = linesize_[i];
    const int err = av_image_fill_pointers(frame->data, format_, FFALIGN(height_, PADDED_ROWS),
                                           buffer->data, linesize_);
    if (err < 0) {
        av_frame_unref(frame);
        return err;
    }
    for (int i = 1; i < 4; ++i)
        if (frame->data[i]) frame->data[i] += i * ALIGN;
    frame->extended_data = frame->data;
    return 0;
}

}  // namespace kcli
