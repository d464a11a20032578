// Reader of the registration resource ("PIPL"), the property list by which a
// host recognises an effect library before calling it.
//
// Format, as the host reads it: a 10-byte header (16-bit format version,
// 32-bit reserved, 32-bit property count), then the properties back to back,
// each a 16-byte head (vendor code, key, attributes, value length; all
// 32-bit little-endian, four-character codes stored with their first
// character in the most significant byte) followed by the value. The next
// property starts 16 + L bytes later, L being the length rounded up to a
// multiple of 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace refhost {

// Malformed registration resource: the message says what and at which offset.
class PiplError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PiplProperty {
    std::string vendor;  // four characters, in reading order ("8BIM")
    std::string key;     // four characters, in reading order ("kind", "eGLO", ...)
    std::uint32_t attributes = 0;
    std::uint32_t length = 0;         // value length as stored (padding excluded when not counted)
    std::size_t offset = 0;           // offset of the property head from the start of the resource
    std::vector<std::uint8_t> value;  // exactly `length` bytes
};

struct PiplVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
};

// Everything a host takes from the resource. Known properties are decoded;
// a property that is absent leaves its field empty. Unknown keys are kept in
// `properties` only.
struct PiplInfo {
    std::uint16_t formatVersion = 0;
    std::uint32_t reserved = 0;
    std::vector<PiplProperty> properties;  // in file order
    std::size_t consumed = 0;  // bytes walked: header plus every property by the rule above

    std::optional<std::string> kind;              // four characters, e.g. "eFKT"
    std::optional<std::string> name;              // counted string, raw bytes
    std::optional<std::string> category;          // counted string, raw bytes
    std::optional<std::string> entryPoint;        // "8664": bytes up to the first NUL
    std::optional<PiplVersion> piplVersion;       // "ePVR"
    std::optional<PiplVersion> interfaceVersion;  // "eSVR"
    std::optional<std::uint32_t> version;         // "eVER", compare with my_version
    std::optional<std::uint16_t> infoFlags;       // "eINF"
    std::optional<std::uint32_t> outFlags;        // "eGLO", compare with out_flags
    std::optional<std::uint32_t> outFlags2;       // "eGL2", compare with out_flags2
    std::optional<std::string> matchName;         // "eMNA", counted string, raw bytes
    std::optional<std::uint32_t> aeFlags;         // "aeFL"
};

// Walks the resource. Every read is bounds-checked: a header, property head,
// value or counted string that would reach past `size` throws PiplError, as
// does a property count that cannot fit, or a known property whose value has
// the wrong length. Bytes after the last property are not an error; compare
// `consumed` with the size to detect them.
PiplInfo parsePipl(const std::uint8_t* data, std::size_t size);
inline PiplInfo parsePipl(const std::vector<std::uint8_t>& bytes) {
    return parsePipl(bytes.data(), bytes.size());
}

// Four-character code as stored (first character in the top byte) -> text.
std::string fourCharCode(std::uint32_t code);

}  // namespace refhost
