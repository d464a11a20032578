// A host error code on its way up to the entry point, which returns it to
// the host unchanged. A type of the plug-in's own, so that nothing else
// thrown (a stray integer, say) can pass for a host code.
#pragma once

#include "host/HostTypes.h"

namespace kestrelumen {

struct HostError {
    PF_Err code;
};

}  // namespace kestrelumen
