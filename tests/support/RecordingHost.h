// A host double for the commands that need no suites (About, global setup,
// parameter setup): it offers only ansi.sprintf, ansi.strcpy and add_param,
// and records every call in order. add_param keeps a copy of the record as it
// was at the moment of the call, since the plug-in reuses it at once.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "host/HostTypes.h"

namespace testsupport {

class RecordingHost {
public:
    enum class Kind { Sprintf, Strcpy, AddParam };

    struct Call {
        Kind kind;
        std::string text;  // sprintf: the format; strcpy: the source bytes
        PF_ProgPtr effect_ref = nullptr;
        PF_ParamIndex index = 0;
        PF_ParamDef def{};  // add_param: the record as the host saw it
    };

    RecordingHost() {
        utils.ansi.sprintf = &Sprintf;
        utils.ansi.strcpy = &Strcpy;
        in_data.inter.add_param = &AddParam;
        in_data.utils = &utils;
        in_data.effect_ref = EFFECT_REF;
        current() = this;
    }
    ~RecordingHost() { current() = nullptr; }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    // The n-th add_param call (counted from 1) returns this code.
    void refuseAddParam(int n, PF_Err code) { add_param_results[n] = code; }

    std::vector<Call> of(Kind kind) const {
        std::vector<Call> out;
        for (const Call& c : calls) {
            if (c.kind == kind) out.push_back(c);
        }
        return out;
    }

    static inline const PF_ProgPtr EFFECT_REF = reinterpret_cast<PF_ProgPtr>(0x5EED);

    PF_InData in_data{};
    PF_OutData out_data{};
    PF_UtilCallbacks utils{};
    std::vector<Call> calls;
    std::map<int, PF_Err> add_param_results;

private:
    // The host's callbacks carry no context pointer, so the double in use is
    // found through this one slot; tests build one double at a time.
    static RecordingHost*& current() {
        static RecordingHost* host = nullptr;
        return host;
    }

    static int Sprintf(A_char* dst, const A_char* fmt, ...) {
        current()->calls.push_back({Kind::Sprintf, fmt});
        va_list args;
        va_start(args, fmt);
        // return_msg is the only destination the plug-in prints into.
        const int n = std::vsnprintf(dst, sizeof(PF_OutData::return_msg), fmt, args);
        va_end(args);
        return n;
    }

    static A_char* Strcpy(A_char* dst, const A_char* src) {
        current()->calls.push_back({Kind::Strcpy, src});
        return std::strcpy(dst, src);
    }

    static PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
        RecordingHost& host = *current();
        Call call{Kind::AddParam, {}, effect_ref, index};
        std::memcpy(&call.def, def, sizeof call.def);
        host.calls.push_back(call);
        const int n = static_cast<int>(host.of(Kind::AddParam).size());
        const auto it = host.add_param_results.find(n);
        return it == host.add_param_results.end() ? PF_Err_NONE : it->second;
    }
};

}  // namespace testsupport
