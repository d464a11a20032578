#include "render/KeySettings.h"

namespace kestrelumen {

// Allocated with new in SmartPreRender; freed by the same module's delete,
// so the record never crosses a runtime's heap.
void DeleteKeySettings(void* pre_render_data) noexcept {
    delete static_cast<KeySettings*>(pre_render_data);
}

}  // namespace kestrelumen
