// The registration resource the host reads before it ever calls the library:
// a property list, built at compile time from the same constants that About
// and global setup report, so the resource cannot drift from them. The build
// writes these bytes to a file (resources/WriteResources.cpp) that the Windows
// resource script embeds and the Linux reference host reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "entry/EffectInfo.h"

namespace kestrelumen {

// The export the host calls; must equal the name in entry/EntryPoint.h.
constexpr char ENTRY_POINT_NAME[] = "EntryPointFunc";

// Where the host looks for the resource.
constexpr char PIPL_RESOURCE_TYPE[] = "PIPL";
constexpr std::uint16_t PIPL_RESOURCE_ID = 16000;
constexpr std::uint16_t PIPL_RESOURCE_LANGUAGE = 4;  // Chinese, neutral sublanguage

constexpr std::uint16_t PIPL_FORMAT_VERSION = 1;
constexpr std::uint16_t PIPL_PROPERTY_LIST_MAJOR = 2;
constexpr std::uint16_t PIPL_PROPERTY_LIST_MINOR = 6;
constexpr std::uint16_t PIPL_EFFECT_API_MAJOR = 13;
constexpr std::uint16_t PIPL_EFFECT_API_MINOR = 0;
constexpr std::uint16_t PIPL_INFO_FLAGS = 0;
constexpr std::uint32_t PIPL_RESERVED_INFO = 0;

namespace pipl_detail {

constexpr std::size_t CAPACITY = 512;

constexpr std::size_t textLength(const char* s) {
    std::size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

constexpr std::size_t roundUp4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// A four-character code is an integer whose most significant byte is the
// first character; little-endian storage therefore reverses it in the file.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t{static_cast<unsigned char>(code[0])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(code[1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(code[2])} << 8) |
           std::uint32_t{static_cast<unsigned char>(code[3])};
}

struct Writer {
    std::array<std::uint8_t, CAPACITY> bytes{};
    std::size_t size = 0;
    std::uint32_t properties = 0;

    constexpr void u8(std::uint8_t v) {
        // Overflowing the buffer makes the table fail to compile.
        if (size >= CAPACITY) throw "registration resource exceeds its buffer";
        bytes[size++] = v;
    }
    constexpr void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    constexpr void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    constexpr void zeros(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) u8(0);
    }
    constexpr void text(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) u8(static_cast<std::uint8_t>(s[i]));
    }

    // Head of one property; the value follows. `length` counts the value as
    // written, padding of strings included.
    constexpr void head(const char (&key)[5], std::size_t length) {
        u32(fourCharCode("8BIM"));
        u32(fourCharCode(key));
        u32(0);  // attributes
        u32(static_cast<std::uint32_t>(length));
        ++properties;
    }

    constexpr void code(const char (&key)[5], const char (&value)[5]) {
        head(key, 4);
        u32(fourCharCode(value));
    }
    constexpr void word(const char (&key)[5], std::uint32_t value) {
        head(key, 4);
        u32(value);
    }
    constexpr void versionPair(const char (&key)[5], std::uint16_t major, std::uint16_t minor) {
        head(key, 4);
        u16(major);
        u16(minor);
    }
    // The one value whose length is not a multiple of 4: the two bytes that
    // follow it keep the next property aligned but are not counted.
    constexpr void halfWord(const char (&key)[5], std::uint16_t value) {
        head(key, 2);
        u16(value);
        zeros(2);
    }
    // One length byte, the text, zero bytes up to a multiple of 4.
    constexpr void countedString(const char (&key)[5], const char* s) {
        const std::size_t n = textLength(s);
        if (n > 255) throw "counted string longer than its length byte allows";
        const std::size_t length = roundUp4(1 + n);
        head(key, length);
        u8(static_cast<std::uint8_t>(n));
        text(s, n);
        zeros(length - 1 - n);
    }
    // The text with its NUL, zero bytes up to a multiple of 4.
    constexpr void cString(const char (&key)[5], const char* s) {
        const std::size_t n = textLength(s);
        const std::size_t length = roundUp4(n + 1);
        head(key, length);
        text(s, n);
        zeros(length - n);
    }
};

constexpr Writer build() {
    Writer w;
    w.u16(PIPL_FORMAT_VERSION);
    w.u32(0);  // reserved
    w.u32(0);  // number of properties, filled in below
    w.code("kind", "eFKT");
    w.countedString("name", EFFECT_NAME);
    w.countedString("catg", EFFECT_CATEGORY);
    w.cString("8664", ENTRY_POINT_NAME);
    w.versionPair("ePVR", PIPL_PROPERTY_LIST_MAJOR, PIPL_PROPERTY_LIST_MINOR);
    w.versionPair("eSVR", PIPL_EFFECT_API_MAJOR, PIPL_EFFECT_API_MINOR);
    w.word("eVER", EFFECT_VERSION);
    w.halfWord("eINF", PIPL_INFO_FLAGS);
    w.word("eGLO", EFFECT_OUT_FLAGS);
    w.word("eGL2", EFFECT_OUT_FLAGS2);
    w.countedString("eMNA", EFFECT_MATCH_NAME);
    w.word("aeFL", PIPL_RESERVED_INFO);

    const std::uint32_t count = w.properties;
    for (std::size_t i = 0; i < 4; ++i)
        w.bytes[6 + i] = static_cast<std::uint8_t>(count >> (8 * i));
    return w;
}

constexpr Writer BUILT = build();

}  // namespace pipl_detail

constexpr std::size_t PIPL_SIZE = pipl_detail::BUILT.size;
constexpr std::uint32_t PIPL_PROPERTY_COUNT = pipl_detail::BUILT.properties;
static_assert(PIPL_SIZE == 306, "the host's registration resource is 306 bytes");
static_assert(PIPL_PROPERTY_COUNT == 12, "twelve properties");

constexpr std::array<std::uint8_t, PIPL_SIZE> piplBytes() {
    std::array<std::uint8_t, PIPL_SIZE> out{};
    for (std::size_t i = 0; i < PIPL_SIZE; ++i) out[i] = pipl_detail::BUILT.bytes[i];
    return out;
}

}  // namespace kestrelumen
