#include "cli/RenderEquivalent.h"

#include <cstdio>
#include <cstdlib>

namespace kcli {
namespace {

std::string quoted(const std::string& word) {
    bool plain = !word.empty() && word[0] != '#';
    for (char c : word)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == '/' ||
                          c == ':' || c == ',' || c == '=' || c == '#' || c == '%');
    if (plain) return word;
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Shortest text that reads back as the same double.
std::string number(double v) {
    char buf[40];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

}  // namespace

std::string equivalentCommand(const RenderOptions& o, const Controls& c) {
    char key[8];
    std::snprintf(key, sizeof key, "#%02x%02x%02x", c.key.red, c.key.green, c.key.blue);
    std::string cmd = "kestrelumen render " + quoted(o.input) + " -o " + quoted(o.output) +
                      " --key " + quoted(key) + " --choke-transparent " +
                      number(c.choke_transparent) + " --choke-opaque " + number(c.choke_opaque) +
                      " --spill-amount " + number(c.spill_amount) + " --spill-size " +
                      number(c.spill_size) + " --view " + viewName(c.view);
    if (o.over) {
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", o.over->color.red,
                      o.over->color.green, o.over->color.blue);
        cmd +=
            " --over " + quoted(o.over->kind == Background::Kind::Checker ? std::string("checker")
                                : o.over->kind == Background::Kind::Color ? std::string(colour)
                                                                          : o.over->path);
    }
    if (o.depth) cmd += std::string(" --depth ") + std::to_string(refhost::bitdepthOf(*o.depth));
    if (!o.read.layer.empty()) cmd += " --layer " + quoted(o.read.layer);
    if (!o.read.part.empty()) cmd += " --part " + quoted(o.read.part);
    if (o.write.compression) cmd += " --compression " + quoted(o.write.compression->text());
    if (o.write.alpha == AlphaStorage::Straight) cmd += " --straight";
    if (o.write.alpha == AlphaStorage::Premultiplied) cmd += " --premultiply";
    if (!o.frames.empty()) cmd += " --frames " + quoted(o.frames);
    if (!o.codec.empty()) cmd += " --codec " + quoted(o.codec);
    for (const std::string& option : o.codecOptions) cmd += " --codec-option " + quoted(option);
    if (!o.fps.empty()) cmd += " --fps " + quoted(o.fps);
    return cmd;
}

std::string softwareAttribute(const RenderOptions& o, const Controls& resolved) {
    return "kestrelumen " KESTRELUMEN_VERSION " : " + equivalentCommand(o, resolved);
}

}  // namespace kcli
