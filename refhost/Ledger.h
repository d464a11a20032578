// The host's books: what the plug-in took from the host and gave back.
//
// A Host keeps one Ledger per command (cleared when the command starts) and
// puts ledger().imbalances() into the CommandResult when it ends.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/HostTypes.h"

namespace refhost {

class Ledger {
public:
    // ---- Recording (called by the host's callbacks; thread-safe) --------
    void suiteAcquired(const std::string& name, int32_t version);
    // Returns false when nothing of that name and version was outstanding.
    bool suiteReleased(const std::string& name, int32_t version);
    void layerCheckedOut(A_long checkoutId);
    // Returns false when the id was not checked out (a stray checkin).
    bool layerCheckedIn(A_long checkoutId);
    void paramCheckedOut(PF_ParamIndex index);
    void paramCheckedIn(PF_ParamIndex index);
    void handleCreated(PF_Handle h);
    void handleDisposed(PF_Handle h, bool known);
    void handleLocked(PF_Handle h);
    void handleUnlocked(PF_Handle h, bool wasLocked);
    void clear();

    // ---- Reading ---------------------------------------------------------
    int acquired(const std::string& name, int32_t version) const;
    int released(const std::string& name, int32_t version) const;
    int checkouts(A_long checkoutId) const;
    int checkins(A_long checkoutId) const;
    int paramCheckouts() const;
    int handlesCreated() const;
    int handlesDisposed() const;
    int locks() const;
    int unlocks() const;

    // One line per unbalanced item; empty when everything is balanced:
    // - a suite (name, version) acquired and released a different number of
    //   times, or released without being held;
    // - a layer checkout id checked out more often than checked in;
    // - a handle created in this command and not disposed, a dispose of a
    //   handle the host does not know;
    // - a handle locked and unlocked a different number of times, an unlock
    //   of a handle that was not locked.
    // Not counted as imbalances (see notes()): a checkin of an id that was
    // not checked out, which the render pass does after a failed checkout;
    // parameter checkouts without checkin_param, which hold nothing (the host
    // copies the values into the caller's record).
    std::vector<std::string> imbalances() const;
    // Harmless oddities worth showing in a test failure message.
    std::vector<std::string> notes() const;

private:
    using SuiteKey = std::pair<std::string, int32_t>;
    mutable std::mutex mutex_;
    std::map<SuiteKey, int> acquired_, released_;
    std::map<SuiteKey, int> strayReleases_;
    std::map<A_long, int> checkouts_, checkins_, strayCheckins_;
    int paramCheckouts_ = 0, paramCheckins_ = 0;
    std::vector<PF_Handle> created_;  // in creation order
    std::set<PF_Handle> disposed_;
    int unknownDisposes_ = 0, disposes_ = 0;
    std::map<PF_Handle, int> lockDelta_;
    int locks_ = 0, unlocks_ = 0, strayUnlocks_ = 0;
};

}  // namespace refhost
