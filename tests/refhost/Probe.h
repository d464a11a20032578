// A stand-in plug-in for testing the host itself: its entry point runs
// whatever body the test installs, so a test can make exactly the host calls
// it wants (leaky, misbehaving or throwing ones included) through the same
// C function pointer a real plug-in is called through.
#pragma once

#include <functional>

#include "host/HostConstants.h"
#include "host/HostSuites.h"
#include "refhost/RefHost.h"

namespace refhosttest {

struct ProbeCall {
    PF_Cmd cmd;
    PF_InData* in;
    PF_OutData* out;
    void* extra;
};

using ProbeBody = std::function<PF_Err(const ProbeCall&)>;

inline ProbeBody& probeBody() {
    static ProbeBody body;
    return body;
}

extern "C" inline PF_Err ProbeEntry(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef**,
                                    PF_LayerDef*, void* extra) {
    return probeBody() ? probeBody()(ProbeCall{cmd, in, out, extra}) : PF_Err_NONE;
}

// Installs a body for the lifetime of the object.
class Probe {
public:
    explicit Probe(ProbeBody body) { probeBody() = std::move(body); }
    ~Probe() { probeBody() = nullptr; }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
};

template <class Suite>
const Suite* acquire(const ProbeCall& c, const char* name, int32_t version) {
    const void* p = nullptr;
    if (!c.in->pica_basicP || c.in->pica_basicP->AcquireSuite(name, version, &p) != 0)
        return nullptr;
    return static_cast<const Suite*>(p);
}

inline void release(const ProbeCall& c, const char* name, int32_t version) {
    c.in->pica_basicP->ReleaseSuite(name, version);
}

}  // namespace refhosttest
