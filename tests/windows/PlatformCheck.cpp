// The same check on Windows (under Wine) and on Linux: load the effect
// library through the reference host, check its registration resource
// against what global setup reports, render one deterministic synthetic
// frame in every depth, view and a few settings, and write every output bit
// to a file. The two platforms' files must be identical byte for byte.
//
//   kestrelumen_platform_check LIBRARY OUTPUT.bin    run the check
//   kestrelumen_platform_check --compare A.bin B.bin  report the first difference
//
// Exit status: 0 pass, 1 a check failed or the files differ, 2 bad usage or
// an unreadable/unwritable file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "entry/ParamTable.h"
#include "refhost/RefHost.h"
#include "render/KeySettings.h"
#include "resources/Manifest.h"
#include "resources/PiplResource.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

int g_failures = 0;

void fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    ++g_failures;
}

void check(bool ok, const std::string& what) {
    if (!ok) fail(what);
}

std::uint64_t fnv1a(const std::uint8_t* p, std::size_t n,
                    std::uint64_t h = 1469598103934665603ull) {
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// ---- The registration resource ----------------------------------------------

#if defined(_WIN32)
std::wstring widen(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
    w.resize(w.size() - 1);
    return w;
}

// Looks a resource up under the exact type, name and language the host uses,
// independently of the reference host's own lookup.
Bytes resourceBytes(HMODULE module, LPCWSTR type, WORD name, WORD language) {
    HRSRC res = FindResourceExW(module, type, MAKEINTRESOURCEW(name), language);
    if (!res) return {};
    HGLOBAL loaded = LoadResource(module, res);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, res);
    if (!data) return {};
    const auto* p = static_cast<const std::uint8_t*>(data);
    return Bytes(p, p + size);
}

void checkWindowsResources(const std::string& path, const Bytes& viaHost) {
    HMODULE module = LoadLibraryW(widen(path).c_str());  // a second reference, freed below
    if (!module) {
        fail("LoadLibraryW(" + path + ") failed");
        return;
    }
    const Bytes pipl = resourceBytes(module, L"PIPL", kestrelumen::PIPL_RESOURCE_ID,
                                     kestrelumen::PIPL_RESOURCE_LANGUAGE);
    check(pipl == viaHost, "PIPL 16000 in language 4 differs from what the reference host read");
    const Bytes manifest =
        resourceBytes(module, MAKEINTRESOURCEW(kestrelumen::MANIFEST_RESOURCE_TYPE),
                      kestrelumen::MANIFEST_RESOURCE_ID, kestrelumen::MANIFEST_RESOURCE_LANGUAGE);
    check(manifest.size() == kestrelumen::MANIFEST_SIZE &&
              std::memcmp(manifest.data(), kestrelumen::MANIFEST_XML, manifest.size()) == 0,
          "manifest 2 in language 4 is missing or differs (" + std::to_string(manifest.size()) +
              " bytes)");
    FreeLibrary(module);
    std::printf("windows resources: PIPL %zu bytes, manifest %zu bytes\n", pipl.size(),
                manifest.size());
}
#endif

void checkRegistration(const refhost::PluginLibrary& lib, refhost::Host& host) {
    check(lib.entryName() == kestrelumen::ENTRY_POINT_NAME,
          "entry point found under '" + lib.entryName() + "'");
    const auto& pipl = lib.registrationResource();
    if (!pipl) {
        fail("the library has no registration resource");
        return;
    }
    const auto table = kestrelumen::piplBytes();
    check(*pipl == Bytes(table.begin(), table.end()),
          "registration resource (" + std::to_string(pipl->size()) +
              " bytes) differs from the table it was built from");
#if defined(_WIN32)
    checkWindowsResources(lib.path(), *pipl);
#endif

    refhost::PiplInfo info;
    try {
        info = refhost::parsePipl(*pipl);
    } catch (const refhost::PiplError& e) {
        fail(std::string("registration resource does not parse: ") + e.what());
        return;
    }
    check(info.consumed == pipl->size(), "walking the properties does not end at the end");
    check(info.properties.size() == 12, "property count " + std::to_string(info.properties.size()));
    check(info.entryPoint == std::string(kestrelumen::ENTRY_POINT_NAME),
          "8664 names another export");

    refhost::CommandResult setup = host.globalSetup();
    check(setup.err == PF_Err_NONE, "global setup returned " + std::to_string(setup.err));
    check(info.version == setup.out.my_version, "eVER differs from my_version");
    check(info.outFlags == static_cast<std::uint32_t>(setup.out.out_flags),
          "eGLO differs from out_flags");
    check(info.outFlags2 == static_cast<std::uint32_t>(setup.out.out_flags2),
          "eGL2 differs from out_flags2");
    for (const std::string& w : host.warnings()) fail("host warning: " + w);
    std::printf("registration: %zu bytes, %zu properties, version 0x%08x, flags 0x%08x 0x%08x\n",
                pipl->size(), info.properties.size(), unsigned(setup.out.my_version),
                unsigned(setup.out.out_flags), unsigned(setup.out.out_flags2));
}

// ---- The synthetic frame --------------------------------------------------------

constexpr int WIDTH = 67;  // odd sizes: no row is a whole number of vectors
constexpr int HEIGHT = 41;
constexpr int EXTRA_ROW_BYTES = 16;

std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

std::uint32_t noise(int x, int y, int channel) {
    return mix(static_cast<std::uint32_t>(x) * 73856093u ^
               static_cast<std::uint32_t>(y) * 19349663u ^
               static_cast<std::uint32_t>(channel) * 83492791u);
}

// Rows 0..3 hold colours near each key (greens, blues) at every alpha; the
// rest is noise, so that every branch of the kernel is taken somewhere.
void fill8(refhost::World& w) {
    const int W = w.width(), H = w.height();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            PF_Pixel& p = w.at<PF_Pixel>(x, y);
            const std::uint32_t n = noise(x, y, 0);
            p.alpha =
                static_cast<A_u_char>(y % 5 == 0 ? (x * 255) / (W > 1 ? W - 1 : 1) : (n & 0xFF));
            p.red = static_cast<A_u_char>(noise(x, y, 1));
            p.green = static_cast<A_u_char>(noise(x, y, 2));
            p.blue = static_cast<A_u_char>(noise(x, y, 3));
            if (y < 2) {  // near green
                p.red = static_cast<A_u_char>(n % 48);
                p.green = static_cast<A_u_char>(200 + n % 56);
                p.blue = static_cast<A_u_char>((n >> 8) % 60);
            } else if (y < 4) {  // near blue
                p.red = static_cast<A_u_char>(n % 40);
                p.green = static_cast<A_u_char>((n >> 8) % 70);
                p.blue = static_cast<A_u_char>(190 + n % 66);
            }
        }
}

void fill16(refhost::World& w) {
    const int W = w.width(), H = w.height();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            PF_Pixel16& p = w.at<PF_Pixel16>(x, y);
            A_u_short* c[4] = {&p.alpha, &p.red, &p.green, &p.blue};
            for (int ch = 0; ch < 4; ++ch)
                *c[ch] = static_cast<A_u_short>(noise(x, y, ch) % 32769u);
            if (y < 2) {
                p.red = static_cast<A_u_short>(noise(x, y, 9) % 6000);
                p.green = static_cast<A_u_short>(26000 + noise(x, y, 10) % 6769);
                p.blue = static_cast<A_u_short>(noise(x, y, 11) % 7000);
            }
            if (x == 0) p.alpha = 0;
            if (x == W - 1) p.alpha = 32768;
        }
}

void fillFloat(refhost::World& w) {
    // Values outside 0..1 and the special values that float footage carries.
    const float specials[] = {0.0f,
                              -0.0f,
                              1.0f,
                              -0.25f,
                              1.5f,
                              8.0f,
                              1e-39f,
                              0.5f,
                              std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    constexpr int NS = static_cast<int>(sizeof specials / sizeof specials[0]);
    const int W = w.width(), H = w.height();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            PF_PixelFloat& p = w.at<PF_PixelFloat>(x, y);
            float* c[4] = {&p.alpha, &p.red, &p.green, &p.blue};
            for (int ch = 0; ch < 4; ++ch)
                *c[ch] = static_cast<float>(noise(x, y, ch) % 100001u) / 100000.0f;
            if (y < 2) {
                p.red *= 0.2f;
                p.green = 0.8f + p.green * 0.2f;
                p.blue *= 0.2f;
            } else if (y == H - 1) {
                p.alpha = specials[x % NS];
                p.red = specials[(x + 3) % NS];
                p.green = specials[(x + 7) % NS];
            }
        }
}

void fill(refhost::World& w) {
    switch (w.depth()) {
        case refhost::Depth::U8: fill8(w); break;
        case refhost::Depth::U16: fill16(w); break;
        case refhost::Depth::F32: fillFloat(w); break;
    }
}

struct Settings {
    const char* name;
    bool useDefaults;
    PF_Pixel key;  // alpha, red, green, blue
    double chokeClear, chokeOpaque, spillAmount, spillSize;
};

const Settings SETTINGS[] = {
    {"defaults", true, {}, 0, 0, 0, 0},
    {"green", false, {255, 30, 200, 40}, 0.1, 0.2, 0.75, 0.3},
    {"blue", false, {255, 20, 40, 220}, 0.0, 0.5, 1.0, 1.0},
    {"extreme", false, {255, 0, 255, 0}, 1.0, 1.0, 0.0, 0.0},
};

// ---- Output file: sections of one text line and the pixel bytes ------------------

void writeSection(std::ofstream& out, const std::string& label, const refhost::World& w) {
    const std::size_t rowLen = static_cast<std::size_t>(w.width()) * w.pixelSize();
    out << label << ' ' << w.width() << ' ' << w.height() << ' ' << rowLen * w.height() << '\n';
    std::uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < w.height(); ++y) {
        out.write(reinterpret_cast<const char*>(w.rowBytes(y)),
                  static_cast<std::streamsize>(rowLen));
        h = fnv1a(w.rowBytes(y), rowLen, h);
    }
    std::printf("  %-28s %016llx\n", label.c_str(), static_cast<unsigned long long>(h));
}

void renderAll(refhost::Host& host, std::ofstream& out) {
    const refhost::Depth depths[] = {refhost::Depth::U8, refhost::Depth::U16, refhost::Depth::F32};
    for (const Settings& s : SETTINGS) {
        if (!s.useDefaults) {
            host.setColor(kestrelumen::PARAM_KEY_COLOR, s.key);
            host.setFloat(kestrelumen::PARAM_CHOKE_TRANSPARENT, s.chokeClear);
            host.setFloat(kestrelumen::PARAM_CHOKE_OPAQUE, s.chokeOpaque);
            host.setFloat(kestrelumen::PARAM_SPILL_AMOUNT, s.spillAmount);
            host.setFloat(kestrelumen::PARAM_SPILL_SIZE, s.spillSize);
        }
        for (refhost::Depth depth : depths) {
            refhost::World in(depth, WIDTH, HEIGHT, EXTRA_ROW_BYTES);
            fill(in);
            for (A_long view = kestrelumen::VIEW_SOURCE; view <= kestrelumen::VIEW_FINAL; ++view) {
                host.setPopup(kestrelumen::PARAM_VIEW, view);
                refhost::World result(depth, WIDTH, HEIGHT, EXTRA_ROW_BYTES);
                // One word: the comparison reads a label up to the first space.
                std::string depth_word = refhost::depthName(depth);
                std::replace(depth_word.begin(), depth_word.end(), ' ', '-');
                const std::string label =
                    std::string(s.name) + "/" + depth_word + "/view" + std::to_string(view);
                refhost::FrameResult r = host.renderFrame(in, result);
                check(r.err() == PF_Err_NONE,
                      label + ": render returned " + std::to_string(r.err()));
                check(!r.exceptionEscaped(), label + ": an exception left EntryPointFunc");
                for (const std::string& i : r.imbalances()) fail(label + ": " + i);
                check(result.paddingIntact(), label + ": row padding written");
                if (view == kestrelumen::VIEW_SOURCE)
                    check(result.samePixels(in), label + ": source view is not the input");
                writeSection(out, label, result);
            }
        }
    }
}

void writeText(std::ofstream& out, const std::string& label, const std::string& text) {
    out << label << " 0 0 " << text.size() << '\n' << text;
}

// Every host call of one frame made to fail in every way it can, then a host
// without the basic suite. The error paths run the library's exception
// handling and unwinding, which is where a Windows build can differ from a
// Linux one; the outcomes go into the output file to be compared too.
void faultSweep(refhost::Host& host, std::ofstream& out) {
    host.setPopup(kestrelumen::PARAM_VIEW, kestrelumen::VIEW_FINAL);
    const refhost::Depth depths[] = {refhost::Depth::U8, refhost::Depth::U16, refhost::Depth::F32};
    std::ostringstream log;
    std::size_t runs = 0;
    for (refhost::Depth depth : depths) {
        refhost::World in(depth, 5, 3);
        fill(in);
        refhost::World clean(depth, 5, 3);
        const refhost::FrameResult base = host.renderFrame(in, clean);
        check(base.err() == PF_Err_NONE, "fault sweep: the clean frame failed");
        std::vector<const refhost::CommandResult*> commands = {&base.preRender};
        if (base.render) commands.push_back(&*base.render);
        for (const refhost::CommandResult* cmd : commands)
            for (std::size_t i = 0; i < cmd->calls.size(); ++i)
                for (refhost::FaultMode mode : refhost::faultModesOf(cmd->calls[i].point)) {
                    host.setFaultPlan(refhost::FaultPlan{cmd->cmd, i, mode, PF_Interrupt_CANCEL});
                    refhost::World result(depth, 5, 3);
                    const refhost::FrameResult r = host.renderFrame(in, result);
                    host.setFaultPlan(std::nullopt);
                    const std::string what =
                        std::string(refhost::depthName(depth)) + " cmd " +
                        std::to_string(cmd->cmd) + " call " + std::to_string(i) + " " +
                        refhost::describe(cmd->calls[i]) + " " + refhost::toString(mode);
                    log << what << " -> " << r.err() << (r.exceptionEscaped() ? " escaped" : "")
                        << '\n';
                    check(!r.exceptionEscaped(), what + ": an exception left EntryPointFunc");
                    for (const std::string& imbalance : r.imbalances())
                        fail(what + ": " + imbalance);
                    ++runs;
                }
    }
    host.setBasicSuiteAvailable(false);
    refhost::World in(refhost::Depth::U8, 5, 3), result(refhost::Depth::U8, 5, 3);
    const refhost::FrameResult r = host.renderFrame(in, result);
    host.setBasicSuiteAvailable(true);
    log << "no basic suite -> " << r.err() << (r.exceptionEscaped() ? " escaped" : "") << '\n';
    check(r.err() == PF_Err_BAD_CALLBACK_PARAM && !r.exceptionEscaped(),
          "without the basic suite the frame returned " + std::to_string(r.err()) +
              (r.exceptionEscaped() ? " by an escaping exception" : ""));
    writeText(out, "faults", log.str());
    std::printf(
        "fault sweep: %zu failing host calls, each answered without an escaping exception\n", runs);
}

int runCheck(const std::string& libraryPath, const std::string& outputPath) {
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", outputPath.c_str());
        return 2;
    }
    try {
        refhost::PluginLibrary lib = refhost::PluginLibrary::load(libraryPath);
        refhost::Host host(lib, refhost::HostOptions{2});
        checkRegistration(lib, host);
        refhost::CommandResult params = host.paramsSetup();
        check(params.err == PF_Err_NONE, "params setup returned " + std::to_string(params.err));
        check(host.params().size() == kestrelumen::PARAM_COUNT,
              "the host holds " + std::to_string(host.params().size()) +
                  " parameters after params setup");
        std::printf("renders (%dx%d, FNV-1a of the output pixels):\n", WIDTH, HEIGHT);
        renderAll(host, out);
        faultSweep(host, out);
    } catch (const std::exception& e) {
        fail(std::string("reference host: ") + e.what());
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", outputPath.c_str());
        return 2;
    }
    std::printf("platform check: %s (%d failure%s)\n", g_failures ? "FAILED" : "ok", g_failures,
                g_failures == 1 ? "" : "s");
    return g_failures ? 1 : 0;
}

// ---- Comparison of two output files ----------------------------------------------

struct Section {
    std::string label;
    int width = 0, height = 0;
    Bytes pixels;
};

bool readSections(const std::string& path, std::vector<Section>& sections) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream head(line);
        Section s;
        std::size_t size = 0;
        if (!(head >> s.label >> s.width >> s.height >> size)) return false;
        s.pixels.resize(size);
        if (!in.read(reinterpret_cast<char*>(s.pixels.data()), static_cast<std::streamsize>(size)))
            return false;
        sections.push_back(std::move(s));
    }
    return in.eof();
}

int compareFiles(const std::string& a, const std::string& b) {
    std::vector<Section> sa, sb;
    if (!readSections(a, sa) || !readSections(b, sb)) {
        std::fprintf(stderr, "cannot read %s or %s as check output\n", a.c_str(), b.c_str());
        return 2;
    }
    if (sa.empty()) {
        std::fprintf(stderr, "%s holds nothing to compare\n", a.c_str());
        return 1;
    }
    int differing = 0;
    const std::size_t n = sa.size() < sb.size() ? sa.size() : sb.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Section& x = sa[i];
        const Section& y = sb[i];
        if (x.label != y.label || x.width != y.width || x.height != y.height ||
            x.pixels.size() != y.pixels.size()) {
            std::printf("section %zu: %s %dx%d vs %s %dx%d\n", i, x.label.c_str(), x.width,
                        x.height, y.label.c_str(), y.width, y.height);
            ++differing;
            continue;
        }
        std::size_t diffs = 0, first = 0;
        for (std::size_t k = 0; k < x.pixels.size(); ++k)
            if (x.pixels[k] != y.pixels[k] && diffs++ == 0) first = k;
        if (diffs && x.width * x.height == 0) {
            std::printf("%s: %zu bytes differ, the first at byte %zu\n", x.label.c_str(), diffs,
                        first);
            ++differing;
        } else if (diffs) {
            const std::size_t pixelSize = x.pixels.size() / (std::size_t(x.width) * x.height);
            const std::size_t pixel = first / pixelSize;
            std::printf("%s: %zu bytes differ, first in pixel (%zu, %zu), byte %zu of the pixel\n",
                        x.label.c_str(), diffs, pixel % x.width, pixel / x.width,
                        first % pixelSize);
            ++differing;
        }
    }
    if (sa.size() != sb.size()) {
        std::printf("%zu sections vs %zu\n", sa.size(), sb.size());
        ++differing;
    }
    std::printf("compare: %zu sections (renders and fault outcomes), %s\n", n,
                differing ? "DIFFERENT" : "identical bits");
    return differing ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) return compareFiles(argv[2], argv[3]);
    if (argc != 3 || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: %s LIBRARY OUTPUT.bin\n"
                     "       %s --compare A.bin B.bin\n",
                     argv[0], argv[0]);
        return 2;
    }
    return runCheck(argv[1], argv[2]);
}
