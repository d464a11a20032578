// The utility callbacks (in_data->utils) other than the handle and iterate
// functions that their suites install: copy, the ANSI maths table, and
// sprintf and strcpy bounded by the text they write into.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "refhost/HostContext.h"

namespace refhost {
namespace {

// Texts the host takes from a plug-in are at most PF_MAX_EFFECT_MSG_LEN
// characters and the NUL.
constexpr std::size_t MAX_MESSAGE = PF_MAX_EFFECT_MSG_LEN + 1;

// sprintf and strcpy cannot fail and return no error: they are traced when
// there is a command to trace them in, and work without one.
Host::Context* traceText(CallPoint point, const char* detail) {
    Host::Context* ctx = currentContext();
    if (ctx) {
        try {
            ctx->record(point, detail);
        } catch (...) {
        }
    }
    return ctx;
}

// Bytes from `dst` to the end of the command's return_msg, or 0 when `dst`
// is not inside it.
std::size_t roomInReturnMsg(Host::Context* ctx, const A_char* dst) {
    if (!ctx) return 0;
    const A_char* begin = ctx->out.return_msg;
    const A_char* end = begin + sizeof ctx->out.return_msg;
    return dst >= begin && dst < end ? static_cast<std::size_t>(end - dst) : 0;
}

int AnsiSprintf(A_char* dst, const A_char* fmt, ...) {
    Host::Context* ctx = traceText(CallPoint::AnsiSprintf, fmt ? fmt : "(null)");
    if (!dst || !fmt) return -1;
    // The interface's sprintf has no size. Every text a plug-in prints for
    // the host is bounded by return_msg (256 bytes), so that is the bound:
    // inside return_msg, up to its end; anywhere else, 256 bytes.
    const std::size_t room = roomInReturnMsg(ctx, dst);
    const std::size_t bound = room ? room : MAX_MESSAGE;
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(dst, bound, fmt, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return -1;
    }
    return std::min(n, static_cast<int>(bound - 1));
}

A_char* AnsiStrcpy(A_char* dst, const A_char* src) {
    Host::Context* ctx = traceText(CallPoint::AnsiStrcpy, "");
    if (!dst || !src) return dst;
    if (const std::size_t room = roomInReturnMsg(ctx, dst)) {
        std::size_t n = 0;
        while (n + 1 < room && src[n]) ++n;
        std::memmove(dst, src, n);
        dst[n] = '\0';
        return dst;
    }
    return std::strcpy(dst, src);
}

PF_Err UtilsCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                 PF_Rect* dst_r) {
    auto detail = [&] {
        return std::string(src_r ? rectText(*src_r) : "whole") + " -> " +
               (dst_r ? rectText(*dst_r) : "whole");
    };
    return hostCall(
        contextOf(ref), CallPoint::UtilsCopy, detail,
        [&](Host::Context& ctx, std::optional<FaultMode>) -> PF_Err {
            if (!src || !dst) return PF_Err_BAD_CALLBACK_PARAM;
            const std::optional<Depth> sd = ctx.depthOf(src), dd = ctx.depthOf(dst);
            // Copying between depths would need a conversion this host does not make.
            if (!sd || !dd || *sd != *dd) return PF_Err_BAD_CALLBACK_PARAM;
            const std::size_t px = pixelBytes(*sd);
            if (!validWorld(src, px) || !validWorld(dst, px)) return PF_Err_BAD_CALLBACK_PARAM;
            PF_LRect s = intersect(src_r ? *src_r : PF_LRect{0, 0, src->width, src->height},
                                   PF_LRect{0, 0, src->width, src->height});
            const A_long dx = dst_r ? dst_r->left : 0, dy = dst_r ? dst_r->top : 0;
            if (src_r && (s.left != src_r->left || s.top != src_r->top))
                return PF_Err_BAD_CALLBACK_PARAM;
            PF_LRect d{dx, dy, dx + (s.right - s.left), dy + (s.bottom - s.top)};
            if (dst_r) d = intersect(d, *dst_r);
            d = intersect(d, PF_LRect{0, 0, dst->width, dst->height});
            if (emptyRect(s) || emptyRect(d)) return PF_Err_NONE;
            const std::size_t bytes = static_cast<std::size_t>(d.right - d.left) * px;
            for (A_long y = d.top; y < d.bottom; ++y) {
                const auto* from = reinterpret_cast<const std::uint8_t*>(src->data) +
                                   static_cast<std::ptrdiff_t>(s.top + (y - dy)) * src->rowbytes +
                                   static_cast<std::ptrdiff_t>(s.left + (d.left - dx)) *
                                       static_cast<std::ptrdiff_t>(px);
                auto* to = reinterpret_cast<std::uint8_t*>(dst->data) +
                           static_cast<std::ptrdiff_t>(y) * dst->rowbytes +
                           static_cast<std::ptrdiff_t>(d.left) * static_cast<std::ptrdiff_t>(px);
                std::memmove(to, from, bytes);
            }
            return PF_Err_NONE;
        });
}

// ---- ANSI maths: plain library functions ----------------------------------

A_FpLong MathAtan(A_FpLong x) { return std::atan(x); }
A_FpLong MathAtan2(A_FpLong y, A_FpLong x) { return std::atan2(y, x); }
A_FpLong MathCeil(A_FpLong x) { return std::ceil(x); }
A_FpLong MathCos(A_FpLong x) { return std::cos(x); }
A_FpLong MathExp(A_FpLong x) { return std::exp(x); }
A_FpLong MathFabs(A_FpLong x) { return std::fabs(x); }
A_FpLong MathFloor(A_FpLong x) { return std::floor(x); }
A_FpLong MathFmod(A_FpLong x, A_FpLong y) { return std::fmod(x, y); }
A_FpLong MathHypot(A_FpLong x, A_FpLong y) { return std::hypot(x, y); }
A_FpLong MathLog(A_FpLong x) { return std::log(x); }
A_FpLong MathLog10(A_FpLong x) { return std::log10(x); }
A_FpLong MathPow(A_FpLong x, A_FpLong y) { return std::pow(x, y); }
A_FpLong MathSin(A_FpLong x) { return std::sin(x); }
A_FpLong MathSqrt(A_FpLong x) { return std::sqrt(x); }
A_FpLong MathTan(A_FpLong x) { return std::tan(x); }
A_FpLong MathAsin(A_FpLong x) { return std::asin(x); }
A_FpLong MathAcos(A_FpLong x) { return std::acos(x); }

}  // namespace

void installUtilCallbacks(Host::Context& ctx) {
    PF_UtilCallbacks& u = ctx.utils;
    u.copy = UtilsCopy;
    u.ansi = PF_ANSICallbacks{MathAtan,    MathAtan2,  MathCeil, MathCos,   MathExp,
                              MathFabs,    MathFloor,  MathFmod, MathHypot, MathLog,
                              MathLog10,   MathPow,    MathSin,  MathSqrt,  MathTan,
                              AnsiSprintf, AnsiStrcpy, MathAsin, MathAcos,  {}};
}

}  // namespace refhost
