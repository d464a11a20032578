// What finding the key costs next to keying the frame it is found on: the
// automatic estimate, the border check behind the wrong-key warning and an
// eyedropper rectangle, against one frame keyed through the plug-in on every
// core, in the same run, on the bundled 960x540 sample and on that sample
// doubled to 1920x1080. Fastest of N runs, wall clock, no file I/O.
//
//   key_find_bench [REPEATS]      (default 9)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "cli/Keyer.h"
#include "cli/key/KeyPick.h"

namespace {

using kcli::HostImage;

double fastestMs(int repeats, const std::function<void()>& setup,
                 const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        setup();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

HostImage doubled(const HostImage& in) {
    HostImage out;
    out.width = in.width * 2;
    out.height = in.height * 2;
    out.depth = in.depth;
    out.pixels.resize(out.rowBytes() * out.height);
    const std::size_t px = kcli::pixelBytes(in.depth);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            std::copy_n(in.row(y / 2) + px * (x / 2), px, out.row(y) + px * x);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    kcli::Keyer keyer(KESTRELUMEN_PLUGIN_PATH, static_cast<int>(threads));
    kcli::Controls controls;
    controls.key = {0x17, 0x8e, 0x2f};
    controls.choke_opaque = 0.5;
    controls.choke_transparent = 0.25;
    controls.spill_amount = 1;
    controls.spill_size = 0.35;
    keyer.setControls(controls);

    struct Plate {
        const char* name;
        HostImage image;
    };
    const HostImage sample8 = kcli::readImage(KESTRELUMEN_EXAMPLES "/greenscreen-8bit.png");
    const HostImage sample16 = kcli::readImage(KESTRELUMEN_EXAMPLES "/greenscreen-16bit.png");
    const Plate plates[] = {
        {"960x540 8-bit", sample8},
        {"960x540 16-bit", sample16},
        {"1920x1080 8-bit", doubled(sample8)},
        {"1920x1080 16-bit", doubled(sample16)},
    };

    std::printf("fastest of %d runs, ms; keying on %u threads\n\n", repeats, threads);
    std::printf("%-18s %9s %9s %9s %9s %11s\n", "plate", "key it", "auto", "border", "rect",
                "key/auto");
    for (const Plate& p : plates) {
        HostImage copy;
        const double key = fastestMs(
            repeats, [&] { copy = p.image; }, [&] { copy = keyer.render(std::move(copy), 0); });
        volatile int sink = 0;
        const double automatic = fastestMs(
            repeats, [] {}, [&] { sink = sink + kcli::estimateKey(p.image)->count; });
        const double border = fastestMs(
            repeats, [] {},
            [&] { sink = sink + static_cast<int>(kcli::screenOnBorder(p.image).has_value()); });
        const double rect = fastestMs(
            repeats, [] {},
            [&] { sink = sink + kcli::medianRect(p.image, 20, 20, 200, 150).count; });
        std::printf("%-18s %9.2f %9.2f %9.2f %9.2f %10.1fx\n", p.name, key, automatic, border, rect,
                    key / automatic);
    }
    return 0;
}
