#include "refhost/Pipl.h"

#include <cstring>

namespace refhost {

namespace {

// Every read goes through here, so no offset or length from the resource
// can take a read past its end.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    void need(std::size_t offset, std::size_t count, const char* what) const {
        if (offset > size_ || count > size_ - offset)
            throw PiplError(std::string(what) + " at offset " + std::to_string(offset) + " needs " +
                            std::to_string(count) + " bytes, but the resource ends at " +
                            std::to_string(size_));
    }
    std::uint16_t u16(std::size_t offset, const char* what) const {
        need(offset, 2, what);
        return static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
    }
    std::uint32_t u32(std::size_t offset, const char* what) const {
        need(offset, 4, what);
        return static_cast<std::uint32_t>(data_[offset]) |
               static_cast<std::uint32_t>(data_[offset + 1]) << 8 |
               static_cast<std::uint32_t>(data_[offset + 2]) << 16 |
               static_cast<std::uint32_t>(data_[offset + 3]) << 24;
    }
    const std::uint8_t* at(std::size_t offset) const { return data_ + offset; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

constexpr std::size_t HEADER_SIZE = 10;
constexpr std::size_t PROPERTY_HEAD_SIZE = 16;

std::uint32_t le32(const std::vector<std::uint8_t>& v, std::size_t offset) {
    return static_cast<std::uint32_t>(v[offset]) | static_cast<std::uint32_t>(v[offset + 1]) << 8 |
           static_cast<std::uint32_t>(v[offset + 2]) << 16 |
           static_cast<std::uint32_t>(v[offset + 3]) << 24;
}

std::uint16_t le16(const std::vector<std::uint8_t>& v, std::size_t offset) {
    return static_cast<std::uint16_t>(v[offset] | v[offset + 1] << 8);
}

void expectLength(const PiplProperty& p, std::size_t minimum, bool exact) {
    if (exact ? p.length != minimum : p.length < minimum)
        throw PiplError("property \"" + p.key + "\" at offset " + std::to_string(p.offset) +
                        " has length " + std::to_string(p.length) + ", expected " +
                        (exact ? "" : "at least ") + std::to_string(minimum));
}

std::string countedString(const PiplProperty& p) {
    expectLength(p, 1, false);
    const std::size_t n = p.value[0];
    if (n + 1 > p.value.size())
        throw PiplError("property \"" + p.key + "\" at offset " + std::to_string(p.offset) +
                        ": counted string of " + std::to_string(n) +
                        " bytes does not fit its length " + std::to_string(p.length));
    return std::string(reinterpret_cast<const char*>(p.value.data() + 1), n);
}

PiplVersion versionPair(const PiplProperty& p) {
    expectLength(p, 4, true);
    return PiplVersion{le16(p.value, 0), le16(p.value, 2)};
}

std::uint32_t word(const PiplProperty& p) {
    expectLength(p, 4, true);
    return le32(p.value, 0);
}

void decode(const PiplProperty& p, PiplInfo& info) {
    if (p.key == "kind") {
        info.kind = fourCharCode(word(p));
    } else if (p.key == "name") {
        info.name = countedString(p);
    } else if (p.key == "catg") {
        info.category = countedString(p);
    } else if (p.key == "8664") {
        const auto* text = reinterpret_cast<const char*>(p.value.data());
        const void* nul = std::memchr(text, 0, p.value.size());
        if (!nul)
            throw PiplError("property \"8664\" at offset " + std::to_string(p.offset) +
                            ": entry-point name has no terminating NUL");
        info.entryPoint = std::string(text, static_cast<const char*>(nul) - text);
    } else if (p.key == "ePVR") {
        info.piplVersion = versionPair(p);
    } else if (p.key == "eSVR") {
        info.interfaceVersion = versionPair(p);
    } else if (p.key == "eVER") {
        info.version = word(p);
    } else if (p.key == "eINF") {
        expectLength(p, 2, true);
        info.infoFlags = le16(p.value, 0);
    } else if (p.key == "eGLO") {
        info.outFlags = word(p);
    } else if (p.key == "eGL2") {
        info.outFlags2 = word(p);
    } else if (p.key == "eMNA") {
        info.matchName = countedString(p);
    } else if (p.key == "aeFL") {
        info.aeFlags = word(p);
    }
}

}  // namespace

std::string fourCharCode(std::uint32_t code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

PiplInfo parsePipl(const std::uint8_t* data, std::size_t size) {
    if (!data && size) throw PiplError("no resource data");
    Reader r(data, size);
    PiplInfo info;
    info.formatVersion = r.u16(0, "header");
    info.reserved = r.u32(2, "header");
    const std::uint32_t count = r.u32(6, "header");
    // A count that could not fit is refused before anything is reserved for it.
    if (count > (size - HEADER_SIZE) / PROPERTY_HEAD_SIZE)
        throw PiplError("property count " + std::to_string(count) + " cannot fit in " +
                        std::to_string(size) + " bytes");
    std::size_t offset = HEADER_SIZE;
    for (std::uint32_t i = 0; i < count; ++i) {
        PiplProperty p;
        p.offset = offset;
        r.need(offset, PROPERTY_HEAD_SIZE, "property head");
        p.vendor = fourCharCode(r.u32(offset, "vendor"));
        p.key = fourCharCode(r.u32(offset + 4, "key"));
        p.attributes = r.u32(offset + 8, "attributes");
        p.length = r.u32(offset + 12, "length");
        const std::size_t valueOffset = offset + PROPERTY_HEAD_SIZE;
        r.need(valueOffset, p.length, ("value of property \"" + p.key + "\"").c_str());
        p.value.assign(r.at(valueOffset), r.at(valueOffset) + p.length);
        const std::size_t padded = (static_cast<std::size_t>(p.length) + 3) & ~std::size_t{3};
        // The padding of the last value may be missing only if nothing follows.
        if (i + 1 < count)
            r.need(valueOffset, padded, ("padding of property \"" + p.key + "\"").c_str());
        offset = valueOffset + padded;
        decode(p, info);
        info.properties.push_back(std::move(p));
    }
    info.consumed = offset > size ? size : offset;
    return info;
}

}  // namespace refhost
