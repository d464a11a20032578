#include "cli/Info.h"

#include <cstdio>
#include <string>

#include "cli/ExitCodes.h"
#include "cli/Keyer.h"
#include "cli/Text.h"
#include "contract/EffectContract.h"
#include "host/HostConstants.h"
#include "refhost/Pipl.h"

namespace kcli {
namespace {

struct FlagName {
    int32_t bit;
    const char* name;
};

constexpr FlagName OUT_FLAGS[] = {
    {PF_OutFlag_DISPLAY_ERROR_MESSAGE, "DISPLAY_ERROR_MESSAGE"},
    {PF_OutFlag_PIX_INDEPENDENT, "PIX_INDEPENDENT"},
    {PF_OutFlag_DEEP_COLOR_AWARE, "DEEP_COLOR_AWARE"},
};
constexpr FlagName OUT_FLAGS2[] = {
    {PF_OutFlag2_SUPPORTS_SMART_RENDER, "SUPPORTS_SMART_RENDER"},
    {PF_OutFlag2_FLOAT_COLOR_AWARE, "FLOAT_COLOR_AWARE"},
};

template <std::size_t N>
std::string flagText(int32_t flags, const FlagName (&names)[N]) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(flags));
    std::string text = hex;
    std::string list;
    uint32_t rest = static_cast<uint32_t>(flags);
    for (const FlagName& f : names)
        if (rest & static_cast<uint32_t>(f.bit)) {
            list += (list.empty() ? "" : ", ") + std::string(f.name);
            rest &= ~static_cast<uint32_t>(f.bit);
        }
    if (rest) {
        char other[24];
        std::snprintf(other, sizeof other, "0x%x", rest);
        list += (list.empty() ? "" : ", ") + std::string(other);
    }
    return list.empty() ? text : text + " (" + list + ")";
}

std::string versionText(uint32_t v) {
    // The host's version word: major in bits 19..21 and 26..29, minor 15..18,
    // bug fix 11..14, stage 9..10, build 0..8.
    const unsigned major = ((v >> 19) & 0x7u) | (((v >> 26) & 0xFu) << 3);
    static const char* const stages[] = {"develop", "alpha", "beta", "release"};
    char buf[96];
    std::snprintf(buf, sizeof buf, "%u.%u.%u %s build %u (0x%08x)", major, (v >> 15) & 0xFu,
                  (v >> 11) & 0xFu, stages[(v >> 9) & 0x3u], v & 0x1FFu, v);
    return buf;
}

const char* typeName(int type) {
    switch (type) {
        case PF_Param_LAYER: return "layer";
        case PF_Param_COLOR: return "colour";
        case PF_Param_POPUP: return "popup";
        case PF_Param_FLOAT_SLIDER: return "float slider";
        default: return "other";
    }
}

// The flag of `render` that sets each parameter, by identifier.
const char* flagFor(int id) {
    using namespace kestrelumen;
    switch (id) {
        case PARAM_ID_KEY_COLOR: return "--key";
        case PARAM_ID_CHOKE_TRANSPARENT: return "--choke-transparent";
        case PARAM_ID_CHOKE_OPAQUE: return "--choke-opaque";
        case PARAM_ID_SPILL_AMOUNT: return "--spill-amount";
        case PARAM_ID_SPILL_SIZE: return "--spill-size";
        case PARAM_ID_VIEW: return "--view";
        default: return "";
    }
}

std::string printable(const std::string& bytes) {
    std::string s;
    for (char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            s += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            s += hex;
        }
    }
    return s;
}

void printRegistration(const std::vector<uint8_t>& bytes) {
    std::printf("\nRegistration resource: %zu bytes\n", bytes.size());
    refhost::PiplInfo pipl;
    try {
        pipl = refhost::parsePipl(bytes);
    } catch (const refhost::PiplError& e) {
        std::printf("  unreadable: %s\n", e.what());
        return;
    }
    std::printf("  format version %u, %zu properties, %zu bytes walked\n", pipl.formatVersion,
                pipl.properties.size(), pipl.consumed);
    auto show = [](const char* key, const std::string& value) {
        std::printf("  %-5s %s\n", key, value.c_str());
    };
    auto hex = [](uint32_t v) {
        char b[16];
        std::snprintf(b, sizeof b, "0x%08x", v);
        return std::string(b);
    };
    auto ver = [](const refhost::PiplVersion& v) {
        return std::to_string(v.major) + "." + std::to_string(v.minor);
    };
    for (const refhost::PiplProperty& p : pipl.properties) {
        if (p.key == "kind" && pipl.kind)
            show("kind", *pipl.kind);
        else if (p.key == "name" && pipl.name)
            show("name", printable(*pipl.name));
        else if (p.key == "catg" && pipl.category)
            show("catg", printable(*pipl.category));
        else if (p.key == "8664" && pipl.entryPoint)
            show("8664", printable(*pipl.entryPoint) + "  (entry point)");
        else if (p.key == "ePVR" && pipl.piplVersion)
            show("ePVR", ver(*pipl.piplVersion) + "  (property list version)");
        else if (p.key == "eSVR" && pipl.interfaceVersion)
            show("eSVR", ver(*pipl.interfaceVersion) + "  (interface version)");
        else if (p.key == "eVER" && pipl.version)
            show("eVER", versionText(*pipl.version));
        else if (p.key == "eINF" && pipl.infoFlags)
            show("eINF", hex(*pipl.infoFlags));
        else if (p.key == "eGLO" && pipl.outFlags)
            show("eGLO", flagText(static_cast<int32_t>(*pipl.outFlags), OUT_FLAGS));
        else if (p.key == "eGL2" && pipl.outFlags2)
            show("eGL2", flagText(static_cast<int32_t>(*pipl.outFlags2), OUT_FLAGS2));
        else if (p.key == "eMNA" && pipl.matchName)
            show("eMNA", printable(*pipl.matchName) + "  (match name)");
        else if (p.key == "aeFL" && pipl.aeFlags)
            show("aeFL", hex(*pipl.aeFlags));
        else
            show(printable(p.key).c_str(), std::to_string(p.length) + " bytes");
    }
}

}  // namespace

int runInfo(const std::string& pluginPath) {
    const std::string path = pluginPath.empty() ? defaultPluginPath() : pluginPath;
    Keyer keyer(path, 1);
    const Keyer::Description& d = keyer.description();

    std::printf("Plug-in:    %s\n", path.c_str());
    std::string about = gbkToUtf8(d.aboutText);
    // The host's texts break lines with CR.
    for (std::size_t i = 0; (i = about.find('\r', i)) != std::string::npos;)
        about.replace(i, 1, "\n            ");
    std::printf("About:      %s\n", about.c_str());
    std::printf("Version:    %s\n", versionText(d.version).c_str());
    std::printf("out_flags:  %s\n", flagText(d.outFlags, OUT_FLAGS).c_str());
    std::printf("out_flags2: %s\n", flagText(d.outFlags2, OUT_FLAGS2).c_str());

    std::printf("\nParameters: %d\n", d.numParams);
    std::printf("  %-2s %-5s %-13s %-6s %-20s %-21s %s\n", "#", "id", "type", "range", "default",
                "flag", "label");
    for (const Keyer::ParamRow& p : d.params) {
        std::string label = p.index == 0 ? "(input layer)" : gbkToUtf8(p.label);
        if (!p.choices.empty()) label += "  [" + gbkToUtf8(p.choices) + "]";
        std::printf("  %-2d %-5s %-13s %-6s %-20s %-21s %s\n", p.index,
                    p.index == 0 ? "-" : std::to_string(p.id).c_str(), typeName(p.type),
                    p.range.empty() ? "-" : p.range.c_str(),
                    p.dephault.empty() ? "-" : p.dephault.c_str(), flagFor(p.id), label.c_str());
    }

    if (d.registration)
        printRegistration(*d.registration);
    else
        std::printf("\nRegistration resource: none found\n");
    return EXIT_OK;
}

}  // namespace kcli
