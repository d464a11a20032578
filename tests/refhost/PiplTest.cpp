// The registration reader walks bytes that come from a file on disk: it has
// to read the real layout right and refuse every malformed one without
// reading past the end. Test resources are built here from the format's
// rules, independently of the bytes the build embeds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/Pipl.h"

namespace refhosttest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using refhost::parsePipl;
using refhost::PiplError;

void put16(Bytes& b, std::uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}

void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}

// A four-character code is a 32-bit little-endian integer whose most
// significant byte is the first character: "8BIM" lands as "MIB8".
void putCode(Bytes& b, const char* code) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(code[i]));
}

struct Property {
    const char* key;
    Bytes value;           // as written, padding included where it is counted
    std::uint32_t length;  // the stored length
};

Property word(const char* key, std::uint32_t v) {
    Bytes b;
    put32(b, v);
    return {key, b, 4};
}

Property pair(const char* key, std::uint16_t a, std::uint16_t c) {
    Bytes b;
    put16(b, a);
    put16(b, c);
    return {key, b, 4};
}

// Counted string padded with zeros to a multiple of 4, the padding counted.
Property counted(const char* key, const std::string& s) {
    Bytes b{static_cast<std::uint8_t>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    while (b.size() % 4) b.push_back(0);
    return {key, b, static_cast<std::uint32_t>(b.size())};
}

Bytes build(const std::vector<Property>& props, std::uint32_t count) {
    Bytes b;
    put16(b, 1);
    put32(b, 0);
    put32(b, count);
    for (const Property& p : props) {
        putCode(b, "8BIM");
        putCode(b, p.key);
        put32(b, 0);
        put32(b, p.length);
        b.insert(b.end(), p.value.begin(), p.value.end());
        while ((b.size() - 10) % 4) b.push_back(0);  // padding the length does not count
    }
    return b;
}

std::vector<Property> effectProperties() {
    Bytes kind;
    putCode(kind, "eFKT");
    Bytes entry{'E', 'n', 't', 'r', 'y', 'P', 'o', 'i', 'n', 't', 'F', 'u', 'n', 'c', 0, 0};
    Bytes info;
    put16(info, 0);
    return {
        {"kind", kind, 4},
        counted("name", "Kestrelumen"),
        counted("catg", "Tobrinel"),
        {"8664", entry, 16},
        pair("ePVR", 2, 6),
        pair("eSVR", 13, 0),
        word("eVER", 0x00088601),
        {"eINF", info, 2},
        word("eGLO", 0x02000400),
        word("eGL2", 0x00001400),
        counted("eMNA", "Kestrelumen/1/Tobrinel_9715BE2"),
        word("aeFL", 0),
    };
}

Bytes effectResource() { return build(effectProperties(), 12); }

TEST(Pipl, ReadsTheEffectsResourceByTheReadersRule) {
    const Bytes bytes = effectResource();
    ASSERT_EQ(bytes.size(), 306u);
    const refhost::PiplInfo info = parsePipl(bytes);
    EXPECT_EQ(info.consumed, 306u);
    EXPECT_EQ(info.formatVersion, 1);
    const std::size_t offsets[] = {10, 30, 58, 86, 118, 138, 158, 178, 198, 218, 238, 286};
    ASSERT_EQ(info.properties.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(info.properties[i].offset, offsets[i]) << info.properties[i].key;
        EXPECT_EQ(info.properties[i].vendor, "8BIM");
    }
    EXPECT_EQ(info.kind, "eFKT");
    EXPECT_EQ(info.name, "Kestrelumen");
    EXPECT_EQ(info.category, "Tobrinel");
    EXPECT_EQ(info.entryPoint, "EntryPointFunc");
    ASSERT_TRUE(info.piplVersion && info.interfaceVersion);
    EXPECT_EQ(info.piplVersion->major, 2);
    EXPECT_EQ(info.piplVersion->minor, 6);
    EXPECT_EQ(info.interfaceVersion->major, 13);
    EXPECT_EQ(info.version, 0x00088601u);
    EXPECT_EQ(info.infoFlags, 0);
    EXPECT_EQ(info.outFlags, 0x02000400u);
    EXPECT_EQ(info.outFlags2, 0x1400u);
    EXPECT_EQ(info.matchName, "Kestrelumen/1/Tobrinel_9715BE2");
    EXPECT_EQ(info.aeFlags, 0u);
}

TEST(Pipl, EveryTruncationIsRefused) {
    const Bytes bytes = effectResource();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_THROW(parsePipl(bytes.data(), n), PiplError) << "first " << n << " bytes";
    }
}

// Offset of property i's length field in the effect's resource.
std::size_t lengthField(std::size_t i) {
    const std::size_t offsets[] = {10, 30, 58, 86, 118, 138, 158, 178, 198, 218, 238, 286};
    return offsets[i] + 12;
}

TEST(Pipl, MalformedResourcesAreRefusedWithoutReadingPastTheEnd) {
    const struct {
        const char* what;
        std::size_t offset;  // byte to overwrite
        std::vector<std::uint8_t> with;
    } rows[] = {
        {"one property more than present", 6, {13, 0, 0, 0}},
        {"a count no resource could hold", 6, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"a value length running past the end", lengthField(11), {8, 0, 0, 0}},
        {"a length that overflows an offset", lengthField(3), {0xF0, 0xFF, 0xFF, 0xFF}},
        {"a counted string longer than its value", 30 + 16, {12}},
        {"a match name longer than its value", 238 + 16, {0xFF}},
        {"a version word of two bytes", lengthField(6), {2, 0, 0, 0}},
        {"a version pair of eight bytes", lengthField(4), {8, 0, 0, 0}},
        {"an entry-point name without its NUL", 86 + 16 + 14, {'x', 'y'}},
    };
    for (const auto& row : rows) {
        Bytes bytes = effectResource();
        std::copy(row.with.begin(), row.with.end(), bytes.begin() + static_cast<long>(row.offset));
        // Exactly sized, so any over-read shows under the address sanitizer.
        std::vector<std::uint8_t> exact(bytes);
        EXPECT_THROW(parsePipl(exact.data(), exact.size()), PiplError) << row.what;
    }
}

TEST(Pipl, TrailingBytesAndUnknownKeysAreKeptNotFatal) {
    std::vector<Property> props = effectProperties();
    props.insert(props.begin() + 1, counted("zzzz", "extra"));
    Bytes bytes = build(props, 13);
    bytes.insert(bytes.end(), {0, 0, 0, 0});
    const refhost::PiplInfo info = parsePipl(bytes);
    EXPECT_EQ(info.consumed, bytes.size() - 4);
    ASSERT_EQ(info.properties.size(), 13u);
    EXPECT_EQ(info.properties[1].key, "zzzz");
    EXPECT_EQ(info.name, "Kestrelumen");
}

TEST(Pipl, AbsentPropertiesStayEmpty) {
    const refhost::PiplInfo info = parsePipl(build({word("eVER", 7)}, 1));
    EXPECT_EQ(info.version, 7u);
    EXPECT_FALSE(info.outFlags.has_value());
    EXPECT_FALSE(info.name.has_value());
    EXPECT_FALSE(info.entryPoint.has_value());
}

}  // namespace
}  // namespace refhosttest
