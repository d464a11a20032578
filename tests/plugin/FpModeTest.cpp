// The loaded library leaves the caller's floating-point environment as it
// found it: MXCSR's control bits (flush-to-zero, denormals-are-zero, the
// rounding mode and the exception masks) and the x87 control word, through
// every command and a keyed frame of every depth, in either mode a host may
// run in.
#include <xmmintrin.h>

#include <cstdint>
#include <string>

#include "tests/plugin/PluginFixture.h"
#include "tests/support/FpMode.h"

namespace plugintest {
namespace {

uint16_t x87ControlWord() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

class FpModePlugin : public PluginTest {};

TEST_F(FpModePlugin, CommandsAndKernelsLeaveMxcsrAndTheX87ControlWordAlone) {
    host_.setThreads(1);  // every kernel call on this thread, whose mode is set
    for (fptest::FpMode mode : fptest::FP_MODES) {
        SCOPED_TRACE(fptest::fpModeName(mode));
        const fptest::ScopedFpMode scoped(mode);
        const unsigned csr = _mm_getcsr();
        const uint16_t cw = x87ControlWord();
        auto unchanged = [&](const char* what) {
            EXPECT_EQ(_mm_getcsr() & ~_MM_EXCEPT_MASK, csr & ~_MM_EXCEPT_MASK) << what;
            EXPECT_EQ(x87ControlWord(), cw) << what;
        };

        std::string text;
        ASSERT_EQ(host_.about(text).err, PF_Err_NONE);
        unchanged("about");
        ASSERT_EQ(host_.globalSetup().err, PF_Err_NONE);
        unchanged("global setup");
        ASSERT_EQ(host_.paramsSetup().err, PF_Err_NONE);
        unchanged("parameter setup");
        for (Depth depth : DEPTHS) {
            for (int view : VIEWS) {
                host_.setPopup(6, view);
                World in(depth, WIDTH, HEIGHT), out(depth, WIDTH, HEIGHT);
                fill(in, 13);
                ASSERT_EQ(host_.renderFrame(in, out).err(), PF_Err_NONE);
                unchanged((std::string(refhost::depthName(depth)) + " frame, view " +
                           std::to_string(view))
                              .c_str());
            }
        }
    }
}

}  // namespace
}  // namespace plugintest
