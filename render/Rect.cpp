#include "render/Rect.h"

#include <algorithm>

namespace kestrelumen {

bool RectIsEmpty(const PF_LRect& rect) {
    return rect.left >= rect.right || rect.top >= rect.bottom;
}

void RectMergeInto(const PF_LRect& src, PF_LRect& dst) {
    if (RectIsEmpty(dst)) {
        dst = src;
    } else if (!RectIsEmpty(src)) {
        dst.left = std::min(dst.left, src.left);
        dst.top = std::min(dst.top, src.top);
        dst.right = std::max(dst.right, src.right);
        dst.bottom = std::max(dst.bottom, src.bottom);
    }
}

}  // namespace kestrelumen
