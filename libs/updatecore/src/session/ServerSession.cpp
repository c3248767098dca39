#include "session/ServerSession.h"

#include "LmNetConfig.h"
#include "report/Report.h"

void ServerSession::countReceived(int64_t bytes) {
    bytesFetched_ += bytes;
    budget().charge(bytesFetched_, std::time(nullptr));
}

// A stored value that is not a valid one leaves nothing to fetch: a
// metered link is better idle than overrun.
ByteBudget& ServerSession::budget() {
    if (!budget_) {
        int mib = LmNetConfig::getInstance().getBudget();
        if (mib < 0) {
            logError("LmUpdate: invalid budget in the settings: nothing is fetched");
        }
        budget_.emplace(mib < 0 ? 1 : int64_t{mib} * ByteBudget::kMiB);
    }
    return *budget_;
}

bool ServerSession::budgetAllows(int64_t fetched, int64_t bytes) {
    std::time_t now = std::time(nullptr);
    budget().charge(fetched, now);
    return budget().allows(bytes, now);
}

void ServerSession::reportBudgetReached() {
    warn(budget().reachedLine());
    reportError("EC_LMUPDATE_BUDGET_REACHED");
}
