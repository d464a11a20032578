// A basic suite double: hands out a distinct dummy table per suite name and
// version, records every acquire and release in order, and refuses on demand
// in each of the ways a host can.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/HostSuites.h"

namespace testsupport {

class FakeBasicSuite {
public:
    enum class Refusal {
        None,
        ErrorCode,         // non-zero code, no pointer
        NullWithSuccess,   // code 0 but no pointer
        PointerWithError,  // a pointer, but a non-zero code
    };
    using Key = std::pair<std::string, int32_t>;
    struct Call {
        bool acquire;
        Key suite;
    };

    FakeBasicSuite() {
        basic.AcquireSuite = &Acquire;
        basic.ReleaseSuite = &Release;
        current() = this;
    }
    ~FakeBasicSuite() { current() = nullptr; }
    FakeBasicSuite(const FakeBasicSuite&) = delete;
    FakeBasicSuite& operator=(const FakeBasicSuite&) = delete;

    void refuse(const std::string& name, int32_t version, Refusal how) {
        refusals[{name, version}] = how;
    }

    // The table handed out for a suite: stable for the life of the double.
    const void* table(const std::string& name, int32_t version) {
        auto& t = tables[{name, version}];
        if (t.empty()) t.resize(16);
        return t.data();
    }

    std::vector<Key> acquired() const { return filter(true); }
    std::vector<Key> released() const { return filter(false); }

    SPBasicSuite basic{};
    std::vector<Call> calls;
    std::map<Key, Refusal> refusals;
    std::map<Key, std::vector<void*>> tables;

private:
    std::vector<Key> filter(bool acquire) const {
        std::vector<Key> out;
        for (const Call& c : calls) {
            if (c.acquire == acquire) out.push_back(c.suite);
        }
        return out;
    }

    static FakeBasicSuite*& current() {
        static FakeBasicSuite* fake = nullptr;
        return fake;
    }

    static SPErr Acquire(const char* name, int32_t version, const void** suite) {
        FakeBasicSuite& f = *current();
        f.calls.push_back({true, {name, version}});
        const auto it = f.refusals.find({name, version});
        const Refusal how = it == f.refusals.end() ? Refusal::None : it->second;
        switch (how) {
            case Refusal::None: *suite = f.table(name, version); return 0;
            case Refusal::ErrorCode: return 6;
            case Refusal::NullWithSuccess: *suite = nullptr; return 0;
            case Refusal::PointerWithError: *suite = f.table(name, version); return 6;
        }
        return 6;
    }

    static SPErr Release(const char* name, int32_t version) {
        current()->calls.push_back({false, {name, version}});
        return 0;
    }
};

}  // namespace testsupport
