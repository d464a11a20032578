// The three keying kernels over any input pixel and any settings record.
//
// Input bytes: the 36-byte settings record as it lies in the host handle,
// then 16 bytes of pixel; 8 bits read the first 4, 16 bits the first 8, float
// all 16. Shorter inputs are padded with zeros. So every float the kernels
// meet can be anything: NaN, infinities, denormals, negative or huge values,
// and `view` any integer.
//
// Every record and pixel lives in a heap block of exactly its size, so the
// address sanitizer reports any read or write outside the two pixels and the
// record. Each result must:
//  - equal, bit for bit, the plain rendering of the keying steps (where two
//    NaNs meet, which NaN comes out is left open: see samePixel);
//  - keep 16-bit codes within 0..32768 (8-bit codes cannot leave 0..255) and
//    float alpha within 0..1, never NaN;
//  - leave the input pixel and the record as they were;
//  - come out the same when the host passes one pixel as input and output;
//  - not be written at all when a pointer is null.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "plain/PlainKeyKernels.h"
#include "render/KeyKernels.h"
#include "render/KeySettings.h"

namespace {

using kestrelumen::KEY_SETTINGS_SIZE;
using kestrelumen::KeySettings;

constexpr std::size_t PIXEL_BYTES = 16;

[[noreturn]] void fail(const char* depth, const char* what, const KeySettings& ks, const void* in,
                       std::size_t size) {
    std::fprintf(stderr, "%s kernel: %s\n  settings:", depth, what);
    const auto* s = reinterpret_cast<const unsigned char*>(&ks);
    for (std::size_t i = 0; i < sizeof ks; ++i) std::fprintf(stderr, " %02x", s[i]);
    std::fprintf(stderr, "\n  pixel:");
    const auto* p = static_cast<const unsigned char*>(in);
    for (std::size_t i = 0; i < size; ++i) std::fprintf(stderr, " %02x", p[i]);
    std::fprintf(stderr, "\n");
    std::abort();
}

void dump(const char* what, const void* pixel, std::size_t size) {
    std::fprintf(stderr, "  %s:", what);
    const auto* p = static_cast<const unsigned char*>(pixel);
    for (std::size_t i = 0; i < size; ++i) std::fprintf(stderr, " %02x", p[i]);
    std::fprintf(stderr, "\n");
}

uint16_t maxChannel(const PF_Pixel16& p) {
    uint16_t m = p.alpha;
    for (uint16_t c : {p.red, p.green, p.blue}) m = c > m ? c : m;
    return m;
}

bool withinRange(const PF_Pixel16& p) { return maxChannel(p) <= PF_MAX_CHAN16; }
bool withinRange(const PF_Pixel&) { return true; }
bool withinRange(const PF_PixelFloat& p) { return p.alpha >= 0.0f && p.alpha <= 1.0f; }

template <typename Pixel>
bool samePixel(const Pixel& a, const Pixel& b) {
    return std::memcmp(&a, &b, sizeof(Pixel)) == 0;
}

// Bit for bit, except which NaN comes out where two NaNs meet in one
// operation: IEEE 754 leaves that choice open and a compiler may swap the
// operands of an addition or multiplication, so the plain rendering and the
// kernel can legitimately carry different NaN payloads there. A NaN against a
// number, or a number against another number, is still a difference.
bool samePixel(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    const float x[4] = {a.alpha, a.red, a.green, a.blue};
    const float y[4] = {b.alpha, b.red, b.green, b.blue};
    for (int i = 0; i < 4; ++i) {
        uint32_t bx, by;
        std::memcpy(&bx, &x[i], sizeof bx);
        std::memcpy(&by, &y[i], sizeof by);
        if (bx != by && !(std::isnan(x[i]) && std::isnan(y[i]))) return false;
    }
    return true;
}

template <typename Pixel>
using Kernel = PF_Err (*)(void*, A_long, A_long, Pixel*, Pixel*);

template <typename Pixel>
void check(const char* depth, Kernel<Pixel> kernel, Kernel<Pixel> oracle,
           const KeySettings& ks_bytes, const unsigned char* pixel_bytes) {
    // Exactly sized blocks: a record, an input pixel, an output pixel.
    auto ks = std::make_unique<KeySettings>(ks_bytes);
    auto in = std::make_unique<Pixel>();
    std::memcpy(in.get(), pixel_bytes, sizeof(Pixel));
    const Pixel in_before = *in;

    auto out = std::make_unique<Pixel>();
    std::memset(out.get(), 0xEE, sizeof(Pixel));
    if (kernel(ks.get(), 3, -7, in.get(), out.get()) != PF_Err_NONE)
        fail(depth, "returned an error", *ks, in.get(), sizeof(Pixel));
    if (std::memcmp(in.get(), &in_before, sizeof(Pixel)) != 0)
        fail(depth, "wrote its input", *ks, &in_before, sizeof(Pixel));
    if (std::memcmp(ks.get(), &ks_bytes, sizeof(KeySettings)) != 0)
        fail(depth, "wrote the settings", ks_bytes, &in_before, sizeof(Pixel));
    if (!withinRange(*out))
        fail(depth, "output outside the depth's range", *ks, in.get(), sizeof(Pixel));

    auto expected = std::make_unique<Pixel>();
    oracle(ks.get(), 3, -7, in.get(), expected.get());
    if (!samePixel(*out, *expected)) {
        dump("kernel", out.get(), sizeof(Pixel));
        dump("plain", expected.get(), sizeof(Pixel));
        fail(depth, "differs from the plain rendering of the steps", *ks, in.get(), sizeof(Pixel));
    }

    // The same pixel as input and output.
    auto same = std::make_unique<Pixel>(*in);
    kernel(ks.get(), 0, 0, same.get(), same.get());
    if (!samePixel(*same, *out))
        fail(depth, "differs when input and output are one pixel", *ks, in.get(), sizeof(Pixel));

    // Null pointers: nothing written.
    auto untouched = std::make_unique<Pixel>();
    std::memset(untouched.get(), 0x5A, sizeof(Pixel));
    const Pixel marker = *untouched;
    kernel(nullptr, 0, 0, in.get(), untouched.get());
    kernel(ks.get(), 0, 0, nullptr, untouched.get());
    if (kernel(ks.get(), 0, 0, in.get(), nullptr) != PF_Err_NONE ||
        std::memcmp(untouched.get(), &marker, sizeof(Pixel)) != 0)
        fail(depth, "wrote through a null pointer case", *ks, in.get(), sizeof(Pixel));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    unsigned char bytes[KEY_SETTINGS_SIZE + PIXEL_BYTES] = {};
    std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
    KeySettings ks;
    std::memcpy(&ks, bytes, sizeof ks);
    const unsigned char* pixel = bytes + KEY_SETTINGS_SIZE;

    check<PF_Pixel>("8-bit", kestrelumen::KeyPixel8, plain::KeyPixel8, ks, pixel);
    check<PF_Pixel16>("16-bit", kestrelumen::KeyPixel16, plain::KeyPixel16, ks, pixel);
    check<PF_PixelFloat>("float", kestrelumen::KeyPixelFloat, plain::KeyPixelFloat, ks, pixel);
    return 0;
}
