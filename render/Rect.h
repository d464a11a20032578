// Rectangles as the host passes them: left and top inside, right and bottom
// outside, all signed 32-bit.
#pragma once

#include "host/HostTypes.h"

namespace kestrelumen {

// Empty when it encloses no pixel: left >= right or top >= bottom.
bool RectIsEmpty(const PF_LRect& rect);

// Widens dst to cover src. An empty dst says nothing about the area, so it
// takes src as it is (even an empty src); an empty src adds nothing.
void RectMergeInto(const PF_LRect& src, PF_LRect& dst);

}  // namespace kestrelumen
