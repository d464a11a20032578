// The registration resource as the host reads it: walked property by
// property with the host's rule (next property 16 + length rounded up to 4
// bytes on), and compared with what the library itself reports at run time.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/HostConstants.h"
#include "host/HostTypes.h"
#include "resources/Manifest.h"
#include "resources/PiplResource.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

struct Property {
    std::size_t offset;
    std::string vendor;  // as stored, i.e. reversed
    std::string key;     // as stored, i.e. reversed
    std::uint32_t attributes;
    std::uint32_t length;
    std::string value;  // the length's bytes plus the padding after them
};

// The host's reader. Fails the test (and stops) rather than reading past the
// end when a length is damaged.
void walk(const Bytes& b, std::uint32_t* count, std::vector<Property>* out, std::size_t* end) {
    ASSERT_GE(b.size(), 10u);
    *count = le32(b, 6);
    std::size_t at = 10;
    for (std::uint32_t i = 0; i < *count; ++i) {
        ASSERT_LE(at + 16, b.size()) << "property " << i << " head overruns the resource";
        Property p;
        p.offset = at;
        p.vendor.assign(reinterpret_cast<const char*>(&b[at]), 4);
        p.key.assign(reinterpret_cast<const char*>(&b[at + 4]), 4);
        p.attributes = le32(b, at + 8);
        p.length = le32(b, at + 12);
        const std::size_t padded = (std::size_t{p.length} + 3) & ~std::size_t{3};
        ASSERT_LE(at + 16 + padded, b.size()) << "property " << i << " value overruns";
        p.value.assign(reinterpret_cast<const char*>(&b[at + 16]), padded);
        out->push_back(p);
        at += 16 + padded;
    }
    *end = at;
}

template <std::size_t N>
std::string raw(const char (&s)[N]) {
    return std::string(s, N - 1);  // keeps embedded NULs, drops the literal's own
}

class PiplResource : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = readFile(KESTRELUMEN_PIPL_PATH);
        ASSERT_FALSE(bytes_.empty()) << "the build wrote no " << KESTRELUMEN_PIPL_PATH;
        ASSERT_NO_FATAL_FAILURE(walk(bytes_, &count_, &props_, &end_));
    }
    const Property* find(const std::string& storedKey) const {
        for (const Property& p : props_)
            if (p.key == storedKey) return &p;
        return nullptr;
    }
    Bytes bytes_;
    std::uint32_t count_ = 0;
    std::vector<Property> props_;
    std::size_t end_ = 0;
};

TEST_F(PiplResource, FileWrittenByTheBuildIsTheTable) {
    const auto table = kestrelumen::piplBytes();
    EXPECT_EQ(bytes_, Bytes(table.begin(), table.end()));
}

TEST_F(PiplResource, HeaderAndWalkEndExactlyAtTheEnd) {
    EXPECT_EQ(bytes_.size(), 306u);
    EXPECT_EQ(bytes_[0] | bytes_[1] << 8, 1);  // format version
    EXPECT_EQ(le32(bytes_, 2), 0u);            // reserved
    EXPECT_EQ(count_, 12u);
    EXPECT_EQ(end_, bytes_.size());
    for (const Property& p : props_) {
        EXPECT_EQ(p.vendor, "MIB8") << "at " << p.offset;
        EXPECT_EQ(p.attributes, 0u) << "at " << p.offset;
    }
}

TEST_F(PiplResource, EveryPropertyAsTheHostExpectsIt) {
    // Keys and four-character values appear reversed; values include the
    // zero padding up to the next multiple of 4.
    struct Row {
        std::size_t offset;
        std::string key;
        std::uint32_t length;
        std::string value;
    };
    const Row rows[] = {
        {10, "dnik", 4, "TKFe"},
        {30, "eman", 12,
         raw("\x0b"
             "Kestrelumen")},
        {58, "gtac", 12,
         raw("\x08"
             "Tobrinel\0\0\0")},
        {86, "4668", 16, raw("EntryPointFunc\0\0")},
        {118, "RVPe", 4, raw("\x02\0\x06\0")},
        {138, "RVSe", 4, raw("\x0d\0\0\0")},
        {158, "REVe", 4, raw("\x01\x86\x08\0")},
        {178, "FNIe", 2, raw("\0\0\0\0")},  // length 2, two uncounted zero bytes
        {198, "OLGe", 4, raw("\0\x04\0\x02")},
        {218, "2LGe", 4, raw("\0\x14\0\0")},
        {238, "ANMe", 32,
         raw("\x1e"
             "Kestrelumen/1/Tobrinel_9715BE2\0")},
        {286, "LFea", 4, raw("\0\0\0\0")},
    };
    ASSERT_EQ(props_.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("property " + std::to_string(i + 1) + " " + rows[i].key);
        EXPECT_EQ(props_[i].offset, rows[i].offset);
        EXPECT_EQ(props_[i].key, rows[i].key);
        EXPECT_EQ(props_[i].length, rows[i].length);
        EXPECT_EQ(props_[i].value, rows[i].value);
    }
}

TEST_F(PiplResource, TextsAreTheEffectsOwn) {
    const Property* name = find("eman");
    const Property* match = find("ANMe");
    ASSERT_TRUE(name && match);
    const std::string display = name->value.substr(1, std::uint8_t(name->value[0]));
    EXPECT_EQ(display, kestrelumen::EFFECT_NAME);
    // The host identifies the effect by the match name, which starts with the
    // display name.
    const std::string matchName = match->value.substr(1, std::uint8_t(match->value[0]));
    EXPECT_EQ(matchName, kestrelumen::EFFECT_MATCH_NAME);
    EXPECT_EQ(matchName.rfind(display + "/", 0), 0u);
}

// The library as the host loads it: the export the resource names resolves,
// and global setup reports bit for bit the version and flags of the resource.
TEST_F(PiplResource, AgreesWithTheLoadedLibrary) {
    void* lib = dlopen(KESTRELUMEN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    const Property* entry = find("4668");
    ASSERT_NE(entry, nullptr);
    const std::string exportName = entry->value.c_str();
    auto* fn = reinterpret_cast<PF_Err (*)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef**,
                                           PF_LayerDef*, void*)>(dlsym(lib, exportName.c_str()));
    ASSERT_NE(fn, nullptr) << "no export named " << exportName;

    PF_InData in{};
    PF_OutData out;
    std::memset(&out, 0xA5, sizeof out);  // global setup must replace, not merge
    ASSERT_EQ(fn(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);

    struct Row {
        const char* key;
        std::uint32_t reported;
    };
    const Row rows[] = {
        {"REVe", out.my_version},
        {"OLGe", static_cast<std::uint32_t>(out.out_flags)},
        {"2LGe", static_cast<std::uint32_t>(out.out_flags2)},
    };
    for (const Row& r : rows) {
        const Property* p = find(r.key);
        ASSERT_NE(p, nullptr) << r.key;
        ASSERT_EQ(p->length, 4u) << r.key;
        EXPECT_EQ(le32(Bytes(p->value.begin(), p->value.end()), 0), r.reported) << r.key;
    }
    dlclose(lib);
}

TEST(Manifest, WrittenByTheBuildAsInvokerWithoutUiAccess) {
    const Bytes bytes = readFile(KESTRELUMEN_MANIFEST_PATH);
    ASSERT_EQ(bytes.size(), 346u);
    const std::string xml(bytes.begin(), bytes.end());
    EXPECT_EQ(xml, std::string(kestrelumen::MANIFEST_XML, kestrelumen::MANIFEST_SIZE));
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\"", 0), 0u);
    EXPECT_EQ(xml.find('\0'), std::string::npos);
    for (const char* needle :
         {"manifestVersion=\"1.0\"", "level=\"asInvoker\"", "uiAccess=\"false\"", "</assembly>"})
        EXPECT_NE(xml.find(needle), std::string::npos) << needle;
}

}  // namespace
