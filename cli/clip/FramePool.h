// Picture buffers for an encoder, used again once it gives them back. A
// clip's frames are large: taking fresh memory for each one cost the system
// a page fault per 4 KB touched, thousands a frame.
#pragma once

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace kcli {

class FramePool {
public:
    FramePool() = default;
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;
    // Buffers still held elsewhere outlive the pool.
    ~FramePool() { av_buffer_pool_uninit(&pool_); }

    // Negative AVERROR when the format's planes cannot be laid out.
    int init(AVPixelFormat format, int width, int height);
    // Points an empty frame at a buffer of the pool and sets its format,
    // size and planes; negative AVERROR when out of memory.
    int get(AVFrame* frame) const;

private:
    AVBufferPool* pool_ = nullptr;
    AVPixelFormat format_ = AV_PIX_FMT_NONE;
    int width_ = 0, height_ = 0;
    int linesize_[4] = {};
};

}  // namespace kcli
