// The floating-point modes a host may run its render threads in, set in
// MXCSR for the life of a scope on the calling thread only. The plug-in
// itself never touches MXCSR; these are the tests' doing.
#pragma once

#include <xmmintrin.h>

#include <ostream>

namespace fptest {

enum class FpMode {
    Default,      // IEEE: subnormals kept, as the C runtime starts a thread
    FlushToZero,  // flush-to-zero and denormals-are-zero
};

constexpr unsigned MXCSR_FTZ = 0x8000u;
constexpr unsigned MXCSR_DAZ = 0x0040u;
constexpr FpMode FP_MODES[] = {FpMode::Default, FpMode::FlushToZero};

inline const char* fpModeName(FpMode mode) {
    return mode == FpMode::Default ? "Default" : "FlushToZero";
}
// For test failure messages.
inline void PrintTo(FpMode mode, std::ostream* os) { *os << fpModeName(mode); }

// The mode's MXCSR, other control bits as they were, exception flags clear.
inline unsigned mxcsrFor(FpMode mode, unsigned current) {
    unsigned csr = current & ~(MXCSR_FTZ | MXCSR_DAZ | _MM_EXCEPT_MASK);
    if (mode == FpMode::FlushToZero) csr |= MXCSR_FTZ | MXCSR_DAZ;
    return csr;
}

class ScopedFpMode {
public:
    explicit ScopedFpMode(FpMode mode) : saved_(_mm_getcsr()) {
        _mm_setcsr(mxcsrFor(mode, saved_));
    }
    ~ScopedFpMode() { _mm_setcsr(saved_); }
    ScopedFpMode(const ScopedFpMode&) = delete;
    ScopedFpMode& operator=(const ScopedFpMode&) = delete;

private:
    unsigned saved_;
};

}  // namespace fptest
