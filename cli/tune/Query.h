// The query of a request to the tune server, checked before anything is
// done with it: keys the endpoint knows, each at most once, values short,
// numbers finite and in range. Keys are spelled like the tool's flags.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/Controls.h"

namespace kcli {

// Answered with 400 and this one-line reason.
class BadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Query {
public:
    using Params = std::multimap<std::string, std::string>;

    // Throws BadRequest for a key not in `allowed`, a key given twice or a
    // value longer than any valid one.
    Query(const Params& params, std::initializer_list<const char*> allowed);

    const std::string* find(const char* key) const;
    // A number in lo..hi (both included); `dflt` when the key is absent.
    double number(const char* key, double dflt, double lo, double hi) const;
    // A whole number in lo..hi; `dflt` when the key is absent.
    int integer(const char* key, int dflt, int lo, int hi) const;

private:
    std::map<std::string, std::string> values_;
};

// The keys the render-like endpoints share with the tool's flags.
#define KCLI_CONTROL_KEYS \
    "key", "choke-transparent", "choke-opaque", "spill-amount", "spill-size", "view"

// The controls a query names, the tool's defaults for the others.
Controls controlsOf(const Query& query);

}  // namespace kcli
