#include "cli/tune/Query.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/ExitCodes.h"
#include "cli/SettingsFile.h"

namespace kcli {
namespace {

// The longest valid value is a key colour as "r,g,b" with a few decimals.
constexpr std::size_t MAX_VALUE_LENGTH = 64;

std::string shown(const std::string& value) {
    std::string s;
    for (char c : value.substr(0, 24)) s += (c >= 0x20 && c < 0x7f) ? c : '?';
    return "'" + s + (value.size() > 24 ? "...'" : "'");
}

std::string g(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

}  // namespace

Query::Query(const Params& params, std::initializer_list<const char*> allowed) {
    for (const auto& [key, value] : params) {
        bool known = false;
        for (const char* a : allowed) known = known || key == a;
        if (!known) throw BadRequest("unknown query key " + shown(key));
        if (value.size() > MAX_VALUE_LENGTH)
            throw BadRequest(key + ": the value is longer than " +
                             std::to_string(MAX_VALUE_LENGTH) + " characters");
        if (!values_.emplace(key, value).second) throw BadRequest(key + ": given more than once");
    }
}

const std::string* Query::find(const char* key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? nullptr : &it->second;
}

namespace {

// `text` whole as one number of the kind `convert` reads (strtod, strtol),
// in lo..hi; `kind` names what was expected. Written so that NaN and the
// infinities are refused too.
template <typename T, typename Convert>
T parseInRange(const char* key, const std::string& text, T lo, T hi, const char* kind,
               Convert convert) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const auto v = convert(begin, &end);
    if (text.empty() || end == begin || *end != '\0')
        throw BadRequest(std::string(key) + ": " + shown(text) + " is not " + kind);
    if (!(v >= lo && v <= hi) || errno == ERANGE)
        throw BadRequest(std::string(key) + ": " + shown(text) + " is outside " + g(lo) + ".." +
                         g(hi));
    return static_cast<T>(v);
}

}  // namespace

double Query::number(const char* key, double dflt, double lo, double hi) const {
    const std::string* text = find(key);
    return text ? parseInRange(key, *text, lo, hi, "a number",
                               [](const char* b, char** e) { return std::strtod(b, e); })
                : dflt;
}

int Query::integer(const char* key, int dflt, int lo, int hi) const {
    const std::string* text = find(key);
    return text ? parseInRange(key, *text, lo, hi, "a whole number",
                               [](const char* b, char** e) { return std::strtol(b, e, 10); })
                : dflt;
}

Controls controlsOf(const Query& q) {
    Controls c;
    try {
        if (const std::string* key = q.find("key")) c.key = parseKeyColor(*key);
    } catch (const Failure& f) {
        throw BadRequest(std::string("key: ") + withoutFlag(f.what()));
    }
    try {
        if (const std::string* view = q.find("view")) c.view = parseView(*view);
    } catch (const Failure& f) {
        throw BadRequest(std::string("view: ") + withoutFlag(f.what()));
    }
    c.choke_transparent = q.number("choke-transparent", c.choke_transparent, 0.0, 1.0);
    c.choke_opaque = q.number("choke-opaque", c.choke_opaque, 0.0, 1.0);
    c.spill_amount = q.number("spill-amount", c.spill_amount, 0.0, 1.0);
    c.spill_size = q.number("spill-size", c.spill_size, 0.0, 1.0);
    return c;
}

}  // namespace kcli
