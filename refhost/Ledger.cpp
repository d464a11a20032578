#include "refhost/Ledger.h"

#include <cstdio>

namespace refhost {

namespace {

std::string handleText(PF_Handle h) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", static_cast<void*>(h));
    return buf;
}

std::string suiteText(const std::string& name, int32_t version) {
    return "suite \"" + name + "\" v" + std::to_string(version);
}

int lookup(const std::map<std::pair<std::string, int32_t>, int>& m,
           const std::pair<std::string, int32_t>& key) {
    auto it = m.find(key);
    return it == m.end() ? 0 : it->second;
}

int lookup(const std::map<A_long, int>& m, A_long key) {
    auto it = m.find(key);
    return it == m.end() ? 0 : it->second;
}

}  // namespace

void Ledger::suiteAcquired(const std::string& name, int32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++acquired_[{name, version}];
}

bool Ledger::suiteReleased(const std::string& name, int32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    const SuiteKey key{name, version};
    if (lookup(acquired_, key) <= lookup(released_, key)) {
        ++strayReleases_[key];
        return false;
    }
    ++released_[key];
    return true;
}

void Ledger::layerCheckedOut(A_long checkoutId) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++checkouts_[checkoutId];
}

bool Ledger::layerCheckedIn(A_long checkoutId) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lookup(checkouts_, checkoutId) <= lookup(checkins_, checkoutId)) {
        ++strayCheckins_[checkoutId];
        return false;
    }
    ++checkins_[checkoutId];
    return true;
}

void Ledger::paramCheckedOut(PF_ParamIndex) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++paramCheckouts_;
}

void Ledger::paramCheckedIn(PF_ParamIndex) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++paramCheckins_;
}

void Ledger::handleCreated(PF_Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(h);
}

void Ledger::handleDisposed(PF_Handle h, bool known) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++disposes_;
    if (known)
        disposed_.insert(h);
    else
        ++unknownDisposes_;
}

void Ledger::handleLocked(PF_Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++locks_;
    ++lockDelta_[h];
}

void Ledger::handleUnlocked(PF_Handle h, bool wasLocked) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++unlocks_;
    if (wasLocked)
        --lockDelta_[h];
    else
        ++strayUnlocks_;
}

void Ledger::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    acquired_.clear();
    released_.clear();
    strayReleases_.clear();
    checkouts_.clear();
    checkins_.clear();
    strayCheckins_.clear();
    paramCheckouts_ = paramCheckins_ = 0;
    created_.clear();
    disposed_.clear();
    unknownDisposes_ = disposes_ = 0;
    lockDelta_.clear();
    locks_ = unlocks_ = strayUnlocks_ = 0;
}

int Ledger::acquired(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookup(acquired_, {name, version});
}

int Ledger::released(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookup(released_, {name, version}) + lookup(strayReleases_, {name, version});
}

int Ledger::checkouts(A_long checkoutId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookup(checkouts_, checkoutId);
}

int Ledger::checkins(A_long checkoutId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookup(checkins_, checkoutId) + lookup(strayCheckins_, checkoutId);
}

int Ledger::paramCheckouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paramCheckouts_;
}

int Ledger::handlesCreated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(created_.size());
}

int Ledger::handlesDisposed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return disposes_;
}

int Ledger::locks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return locks_;
}

int Ledger::unlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unlocks_;
}

std::vector<std::string> Ledger::imbalances() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [key, n] : acquired_) {
        const int r = lookup(released_, key);
        if (n != r)
            out.push_back(suiteText(key.first, key.second) + ": acquired " + std::to_string(n) +
                          ", released " + std::to_string(r));
    }
    for (const auto& [key, n] : strayReleases_)
        out.push_back(suiteText(key.first, key.second) + ": released " + std::to_string(n) +
                      " time(s) without being held");
    for (const auto& [id, n] : checkouts_) {
        const int c = lookup(checkins_, id);
        if (n != c)
            out.push_back("layer checkout id " + std::to_string(id) + ": checked out " +
                          std::to_string(n) + ", checked in " + std::to_string(c));
    }
    for (PF_Handle h : created_)
        if (!disposed_.count(h))
            out.push_back("handle " + handleText(h) + ": created, never disposed");
    if (unknownDisposes_)
        out.push_back(std::to_string(unknownDisposes_) +
                      " dispose(s) of a handle the host does not hold");
    for (const auto& [h, delta] : lockDelta_)
        if (delta != 0)
            out.push_back("handle " + handleText(h) + ": locked " + std::to_string(delta) +
                          " more time(s) than unlocked");
    if (strayUnlocks_)
        out.push_back(std::to_string(strayUnlocks_) + " unlock(s) of a handle that was not locked");
    return out;
}

std::vector<std::string> Ledger::notes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [id, n] : strayCheckins_)
        out.push_back("layer checkout id " + std::to_string(id) + ": checked in " +
                      std::to_string(n) + " time(s) without a checkout");
    if (paramCheckouts_ != paramCheckins_)
        out.push_back(std::to_string(paramCheckouts_) + " parameter checkout(s), " +
                      std::to_string(paramCheckins_) + " checkin(s)");
    return out;
}

}  // namespace refhost
