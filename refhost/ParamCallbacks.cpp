// The parameter callbacks (in_data->inter): parameters declared in
// parameter setup, and their values checked out during a frame.
#include <algorithm>
#include <cstring>

#include "refhost/HostContext.h"

namespace refhost {
namespace {

// A choice list longer than this is not believed.
constexpr std::size_t MAX_CHOICE_LIST = 4096;

PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                     PF_ParamDef* param) {
    return hostCall(
        contextOf(ref), CallPoint::CheckoutParam, [&] { return "index " + std::to_string(index); },
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            if (!param) return PF_Err_BAD_CALLBACK_PARAM;
            if (index < 0 || static_cast<std::size_t>(index) >= ctx.params.size())
                return PF_Err_INVALID_INDEX;
            ctx.checkTime(("checkout_param(" + std::to_string(index) + ")").c_str(), time, step,
                          scale);
            *param = ctx.params[static_cast<std::size_t>(index)].current;
            if (index == 0 && ctx.frameIn) param->u.ld = *ctx.frameIn->effectWorld();
            ctx.ledger.paramCheckedOut(index);
            return PF_Err_NONE;
        });
}

PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    return hostCall(
        contextOf(ref), CallPoint::CheckinParam, "",
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            if (!param) return PF_Err_BAD_CALLBACK_PARAM;
            ctx.ledger.paramCheckedIn(0);
            return PF_Err_NONE;
        },
        OnError::AfterWork);
}

PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    auto detail = [&] {
        return "index " + std::to_string(index) +
               (def ? ", id " + std::to_string(def->uu.id) : std::string());
    };
    return hostCall(
        contextOf(ref), CallPoint::AddParam, detail,
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            // Parameters are declared once, in parameter setup, and nowhere else.
            if (!def || ctx.currentCmd != PF_Cmd_PARAMS_SETUP) return PF_Err_BAD_CALLBACK_PARAM;
            if (index != PF_ParamIndex_APPEND &&
                static_cast<std::size_t>(index) != ctx.params.size())
                return PF_Err_INVALID_INDEX;
            const void* nul = std::memchr(def->name, 0, sizeof def->name);
            if (!nul) return PF_Err_BAD_CALLBACK_PARAM;  // a label must end within its 32 bytes

            ParamInfo info;
            info.index = static_cast<int>(ctx.params.size());
            info.type = def->param_type;
            info.id = def->uu.id;
            info.name.assign(def->name, static_cast<const char*>(nul) - def->name);
            info.definition = *def;
            if (def->param_type == PF_Param_POPUP) {
                const char* list = def->u.pd.u.namesptr;
                if (!list) return PF_Err_BAD_CALLBACK_PARAM;
                // Byte by byte: nothing past the list's NUL is read.
                std::size_t n = 0;
                while (n < MAX_CHOICE_LIST && list[n]) ++n;
                if (n == MAX_CHOICE_LIST) return PF_Err_BAD_CALLBACK_PARAM;
                info.choices.assign(list, n);
                const long entries = 1 + std::count(info.choices.begin(), info.choices.end(), '|');
                if (entries != def->u.pd.num_choices)
                    ctx.warn("popup \"" + info.name + "\" declares " +
                             std::to_string(def->u.pd.num_choices) + " choices but lists " +
                             std::to_string(entries));
            }
            info.current = info.definition;
            ctx.params.push_back(std::move(info));
            ctx.repointChoices();
            return PF_Err_NONE;
        });
}

PF_Err Abort(PF_ProgPtr) { return PF_Err_NONE; }
PF_Err Progress(PF_ProgPtr, A_long, A_long) { return PF_Err_NONE; }

}  // namespace

void installParamCallbacks(Host::Context& ctx) {
    ctx.inter.checkout_param = CheckoutParam;
    ctx.inter.checkin_param = CheckinParam;
    ctx.inter.add_param = AddParam;
    ctx.inter.abort = Abort;
    ctx.inter.progress = Progress;
}

}  // namespace refhost
