#include "cli/tune/Token.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "cli/ExitCodes.h"

namespace kcli {

std::string newToken() {
    uint8_t bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Failure(EXIT_INTERNAL, "tune: no random source for the access token");
        got += static_cast<std::size_t>(n);
    }
    static const char HEX[] = "0123456789abcdef";
    std::string token;
    for (uint8_t b : bytes) {
        token += HEX[b >> 4];
        token += HEX[b & 15];
    }
    return token;
}

bool sameToken(const std::string& given, const std::string& expected) {
    // Every byte of the expected token is visited whatever `given` holds.
    unsigned diff = given.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        diff |= g ^ static_cast<unsigned char>(expected[i]);
    }
    return diff == 0 && !expected.empty();
}

}  // namespace kcli
