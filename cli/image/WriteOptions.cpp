#include "cli/image/WriteOptions.h"

#include <algorithm>
#include <cctype>

#include "cli/ExitCodes.h"

namespace kcli {

std::string Compression::text() const {
    return level ? method + ":" + std::to_string(*level) : method;
}

Compression parseCompression(const std::string& text) {
    auto bad = [&](const std::string& why) {
        return Failure(EXIT_BAD_INPUT, "--compression: '" + text + "' " + why +
                                           " (use METHOD or METHOD:LEVEL, e.g. zip, zip:9, "
                                           "dwaa:45, lzw, none)");
    };
    const std::size_t colon = text.find(':');
    Compression c;
    c.method = text.substr(0, colon);
    std::transform(c.method.begin(), c.method.end(), c.method.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    if (c.method.empty() || !std::all_of(c.method.begin(), c.method.end(), [](unsigned char ch) {
            return std::isalnum(ch) || ch == '_' || ch == '-';
        }))
        throw bad("has no codec name");
    if (colon != std::string::npos) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 6 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](unsigned char ch) { return std::isdigit(ch); }))
            throw bad("has a level that is not a whole number");
        c.level = std::stoi(digits);
    }
    return c;
}

}  // namespace kcli
