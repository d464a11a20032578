#include "cli/Keyer.h"

#include <unistd.h>

#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "cli/ExitCodes.h"
#include "cli/Text.h"
#include "cli/image/DecoderMessages.h"
#include "contract/EffectContract.h"
#include "host/HostConstants.h"
#include "refhost/RefHost.h"

namespace fs = std::filesystem;

namespace kcli {
namespace {

// The tool's flag for each parameter, by the identifier it is found by.
const char* flagOf(A_long id) {
    switch (id) {
        case kestrelumen::PARAM_ID_KEY_COLOR: return "key";
        case kestrelumen::PARAM_ID_CHOKE_TRANSPARENT: return "choke-transparent";
        case kestrelumen::PARAM_ID_CHOKE_OPAQUE: return "choke-opaque";
        case kestrelumen::PARAM_ID_SPILL_AMOUNT: return "spill-amount";
        case kestrelumen::PARAM_ID_SPILL_SIZE: return "spill-size";
        case kestrelumen::PARAM_ID_VIEW: return "view";
        default: return "";
    }
}

#if defined(_WIN32)
constexpr char PLUGIN_FILE[] = "Kestrelumen.aex";
#else
constexpr char PLUGIN_FILE[] = "Kestrelumen.so";
#endif

std::string fixed(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

}  // namespace

std::string defaultPluginPath() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return std::string("plugin/") + PLUGIN_FILE;
    const fs::path besideBuild = exe.parent_path().parent_path() / "plugin" / PLUGIN_FILE;
    if (fs::exists(besideBuild, ec)) return besideBuild.string();
    const fs::path beside = exe.parent_path() / PLUGIN_FILE;
    if (fs::exists(beside, ec)) return beside.string();
    return besideBuild.string();
}

struct Keyer::Impl {
    std::string path;
    refhost::PluginLibrary library;
    std::unique_ptr<refhost::Host> host;
    // Further hosts on the same loaded library, so frames can be keyed at
    // the same time: a host is driven from one thread at a time, and the
    // plug-in keeps nothing between calls.
    std::vector<std::unique_ptr<refhost::Host>> moreHosts;
    std::vector<refhost::Host*> idle;
    std::mutex idleMutex;
    std::condition_variable idleChanged;
    Description description;

    Impl(const std::string& p, refhost::PluginLibrary lib) : path(p), library(std::move(lib)) {}

    [[noreturn]] void fail(const char* what, const refhost::CommandResult& r) const {
        std::string msg = path + ": " + what + " failed";
        if (r.exceptionEscaped) msg += ": an exception escaped the entry point";
        msg += " (error " + std::to_string(r.err) + ")";
        if (r.displaysError()) msg += ": " + gbkToUtf8(r.message());
        throw Failure(EXIT_PLUGIN, msg);
    }

    // The reference host keeps books of what the plug-in borrows; a plug-in
    // that does not give everything back still renders, but the user hears.
    void reportImbalances(const char* what, const std::vector<std::string>& imbalances) const {
        for (const std::string& line : imbalances)
            writeStderr("kestrelumen: warning: " + path + ": " + what +
                        " left unbalanced: " + line + "\n");
    }

    void check(const char* what, const refhost::CommandResult& r) const {
        if (r.err != PF_Err_NONE || r.exceptionEscaped) fail(what, r);
        reportImbalances(what, r.imbalances);
        for (const std::string& w : r.warnings)
            writeStderr("kestrelumen: warning: " + path + ": " + w + "\n");
    }

    // Parameters are found by the identifiers the host keeps them under in
    // its projects, so the tool does not depend on their order.
    int findParam(A_long id, PF_ParamType type, const char* what) const {
        for (const refhost::ParamInfo& p : host->params())
            if (p.index > 0 && p.id == id) {
                if (p.type != type)
                    throw Failure(EXIT_PLUGIN, path + ": the " + what + " parameter (id " +
                                                   std::to_string(id) + ") has type " +
                                                   std::to_string(p.type) + ", expected " +
                                                   std::to_string(type));
                return p.index;
            }
        throw Failure(EXIT_PLUGIN, path + ": declares no " + what + " parameter (id " +
                                       std::to_string(id) + ")");
    }
};

Keyer::Keyer(const std::string& pluginPath, int threads, int instances) {
    std::error_code ec;
    if (!fs::exists(pluginPath, ec))
        throw Failure(EXIT_PLUGIN,
                      pluginPath + ": no such plug-in (build it, or pass --plugin PATH)");
    try {
        impl_ = std::make_unique<Impl>(pluginPath, refhost::PluginLibrary::load(pluginPath));
        refhost::HostOptions options;
        options.threads = static_cast<unsigned>(threads > 0 ? threads : 0);
        impl_->host = std::make_unique<refhost::Host>(impl_->library, options);
        for (int i = 1; i < instances; ++i)
            impl_->moreHosts.push_back(std::make_unique<refhost::Host>(impl_->library, options));
    } catch (const refhost::Error& e) {
        std::string hint;
#if !defined(_WIN32)
        if (fs::path(pluginPath).extension() == ".aex")
            hint = " (a Windows .aex loads only on Windows; use the .so built for Linux)";
#endif
        throw Failure(EXIT_PLUGIN, std::string("cannot load the plug-in: ") + e.what() + hint);
    }
    refhost::Host& host = *impl_->host;
    Description& d = impl_->description;
    d.registration = impl_->library.registrationResource();

    impl_->check("About", host.about(d.aboutText));
    const refhost::CommandResult setup = host.globalSetup();
    impl_->check("global setup", setup);
    d.version = setup.out.my_version;
    d.outFlags = setup.out.out_flags;
    d.outFlags2 = setup.out.out_flags2;
    const refhost::CommandResult params = host.paramsSetup();
    impl_->check("parameter setup", params);
    d.numParams = params.out.num_params;

    for (const refhost::ParamInfo& p : host.params()) {
        ParamRow row;
        row.index = p.index;
        row.type = p.type;
        row.id = p.id;
        row.label = p.name;
        row.flag = flagOf(p.id);
        const PF_ParamDef& def = p.definition;
        switch (p.type) {
            case PF_Param_COLOR: {
                const PF_Pixel& c = def.u.cd.dephault;
                char buf[64];
                std::snprintf(buf, sizeof buf, "#%02x%02x%02x (alpha %d)", c.red, c.green, c.blue,
                              c.alpha);
                row.dephault = buf;
                row.dflt = (c.red << 16) | (c.green << 8) | c.blue;
                break;
            }
            case PF_Param_FLOAT_SLIDER:
                row.range = fixed(def.u.fs_d.valid_min) + ".." + fixed(def.u.fs_d.valid_max);
                row.dephault = fixed(def.u.fs_d.dephault);
                row.min = def.u.fs_d.valid_min;
                row.max = def.u.fs_d.valid_max;
                row.dflt = def.u.fs_d.dephault;
                row.precision = def.u.fs_d.precision;
                break;
            case PF_Param_POPUP:
                row.range = "1.." + std::to_string(def.u.pd.num_choices);
                row.dephault =
                    std::to_string(def.u.pd.dephault) + " (" + viewName(def.u.pd.dephault) + ")";
                row.choices = p.choices;
                row.min = 1;
                row.max = def.u.pd.num_choices;
                row.dflt = def.u.pd.dephault;
                break;
            default: break;
        }
        d.params.push_back(row);
    }
    impl_->idle.push_back(&host);
    for (const auto& more : impl_->moreHosts) {
        impl_->check("global setup", more->globalSetup());
        impl_->check("parameter setup", more->paramsSetup());
        impl_->idle.push_back(more.get());
    }
}

Keyer::~Keyer() = default;

const Keyer::Description& Keyer::description() const { return impl_->description; }

void Keyer::setControls(const Controls& c) {
    Impl& k = *impl_;
    using namespace kestrelumen;
    const int color = k.findParam(PARAM_ID_KEY_COLOR, PF_Param_COLOR, "key colour");
    const int chokeT =
        k.findParam(PARAM_ID_CHOKE_TRANSPARENT, PF_Param_FLOAT_SLIDER, "choke toward transparent");
    const int chokeO =
        k.findParam(PARAM_ID_CHOKE_OPAQUE, PF_Param_FLOAT_SLIDER, "choke toward opaque");
    const int amount = k.findParam(PARAM_ID_SPILL_AMOUNT, PF_Param_FLOAT_SLIDER, "spill amount");
    const int size = k.findParam(PARAM_ID_SPILL_SIZE, PF_Param_FLOAT_SLIDER, "spill size");
    const int view = k.findParam(PARAM_ID_VIEW, PF_Param_POPUP, "view");
    PF_Pixel key{};
    key.alpha = 255;
    key.red = c.key.red;
    key.green = c.key.green;
    key.blue = c.key.blue;
    std::vector<refhost::Host*> hosts{k.host.get()};
    for (const auto& more : k.moreHosts) hosts.push_back(more.get());
    for (refhost::Host* host : hosts) {
        host->setColor(color, key);
        host->setFloat(chokeT, c.choke_transparent);
        host->setFloat(chokeO, c.choke_opaque);
        host->setFloat(amount, c.spill_amount);
        host->setFloat(size, c.spill_size);
        host->setPopup(view, c.view);
    }
}

HostImage Keyer::render(HostImage image, int frame) {
    Impl& k = *impl_;
    refhost::Host* host = nullptr;
    {
        std::unique_lock<std::mutex> lock(k.idleMutex);
        k.idleChanged.wait(lock, [&] { return !k.idle.empty(); });
        host = k.idle.back();
        k.idle.pop_back();
    }
    struct GiveBack {
        Impl& k;
        refhost::Host* host;
        ~GiveBack() {
            {
                std::lock_guard<std::mutex> lock(k.idleMutex);
                k.idle.push_back(host);
            }
            k.idleChanged.notify_one();
        }
    } giveBack{k, host};

    const Depth depth = image.depth;
    refhost::World src(depth, image.width, image.height, std::move(image.pixels));
    refhost::World dst(depth, image.width, image.height);
    host->setTime(frame, 1, 24);
    const refhost::FrameResult r = host->renderFrame(src, dst);
    if (r.preRender.err != PF_Err_NONE || r.preRender.exceptionEscaped)
        k.fail("pre-render", r.preRender);
    if (!r.render) throw Failure(EXIT_PLUGIN, k.path + ": render did not run");
    k.check("render", *r.render);
    k.reportImbalances("pre-render", r.preRender.imbalances);
    // Rows are packed in both layouts, so the output's storage is the image.
    image.pixels = dst.release();
    return image;
}

int Keyer::instances() const { return 1 + static_cast<int>(impl_->moreHosts.size()); }

}  // namespace kcli
