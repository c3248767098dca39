#include "outcome/RunReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>

#include "ResultCode.h"
#include "Utils.h"
#include "state/LmUpdateStore.h"

using Document = RunReport::Document;

namespace {

const char* outcomeName(ProductOutcome outcome) {
    switch (outcome) {
        case ProductOutcome::kUpToDate:
            return "up-to-date";
        case ProductOutcome::kInstalled:
            return "installed";
        case ProductOutcome::kDeferred:
            return "deferred";
        case ProductOutcome::kRefused:
            return "refused";
        case ProductOutcome::kSkipped:
        case ProductOutcome::kHeldBack:
            return "skipped";
        case ProductOutcome::kDownloaded:
        case ProductOutcome::kFailed:
        case ProductOutcome::kStopped:
            break;
    }
    return "failed";
}

// A product not fetched because it is deferred already stays deferred.
const char* outcomeOf(const ProductResult& product) {
    bool deferredEarlier = product.outcome == ProductOutcome::kSkipped && !product.cause.known();
    return deferredEarlier ? "deferred" : outcomeName(product.outcome);
}

Document failureEntry(const FailureCause& cause) {
    Document entry = {{"class", cause.cls.str()}};
    if (!cause.reason.isEmpty()) {
        entry["reason"] = cause.reason.str();
    }
    if (!cause.detail.isEmpty()) {
        entry["detail"] = cause.detail.str();
    }
    return entry;
}

struct NameClass {
    const char* name;
    const char* cls;
};

// What an error name stands for when nothing more precise was recorded.
constexpr NameClass kNameClasses[] = {
    {"EC_LMUPDATE_INVALID_HOST", "dns"},
    {"EC_LMUPDATE_PROXY_FAILED", "proxy"},
    {"EC_LMUPDATE_BAD_CONFIG", "config"},
    {"EC_LMUPDATE_BUDGET_REACHED", "budget"},
    {"EC_LMUPDATE_PACKAGE_ERROR", "package-refused"},
    {"EC_LMUPDATE_UPDATE_ERROR", "http-status"},
};

std::optional<FailureCause> causeOfName(const String& resultName) {
    if (!resultName.startsWith("EC_")) {
        return std::nullopt;
    }
    for (const NameClass& entry : kNameClasses) {
        if (resultName == entry.name) {
            return FailureCause{entry.cls, String(), resultName};
        }
    }
    return FailureCause{"network", String(), resultName};
}

// A result code that no error name went with (ping, verify, firmware).
std::optional<FailureCause> causeOfCode(const String& action, int code) {
    using namespace ResultCode;
    bool settingsCode = action == "ping" || action == "verify" || action == "firmware";
    if (settingsCode && code == kPingSettings) {
        return FailureCause{"config", String(), "network settings unusable"};
    }
    if (code == kInvalidHost) {
        return FailureCause{"dns"};
    }
    if (code == kProxyFailed) {
        return FailureCause{"proxy"};
    }
    if (code <= kConnectRefused && code >= kConnectFailed) {
        return FailureCause{"network"};
    }
    return std::nullopt;
}

// A byte count of an earlier report; 0 when absent or not a count.
int64_t countIn(const Document& object, const char* key) {
    if (!object.is_object() || !object.contains(key) || !object[key].is_number_integer()) {
        return 0;
    }
    return std::max<int64_t>(object[key].get<int64_t>(), 0);
}

}  // namespace

RunReport::RunReport(String action)
    : action_(std::move(action)),
      started_(std::time(nullptr)),
      clock_(std::chrono::steady_clock::now()) {
    LmUpdateStore::instance().getInstalledProducts(inventory_);
}

bool RunReport::succeeded(const String& action, int code) {
    using namespace ResultCode;
    if (action == "update") {
        return code == kUpdateNothing || code == kUpdateSelfUpdated || code == kUpdateInstalled ||
               code == kUpdateBudgetReached;
    }
    return code == kOk || (action == "delay install" && code == 1);
}

std::optional<std::time_t> RunReport::timeIn(const Document& object, const char* key) {
    if (!object.is_object() || !object.contains(key) || !object[key].is_string()) {
        return std::nullopt;
    }
    return parseUtcTimestamp(String(object[key].get<std::string>()));
}

Document RunReport::end(int code, const String& resultName, const Document& previous) {
    using Seconds = std::chrono::duration<double>;
    double seconds = Seconds(std::chrono::steady_clock::now() - clock_).count();
    bool success = succeeded(action_, code);
    Document report;
    report["schema"] = 1;
    report["action"] = action_.str();
    report["started"] = utcTimestamp(started_).str();
    report["ended"] = utcTimestamp(std::time(nullptr)).str();
    report["duration_seconds"] = static_cast<double>(static_cast<int64_t>(seconds * 1000)) / 1000;
    report["exit_status"] = code & 0xff;
    report["result"] = resultName.isEmpty() ? std::string("ok") : resultName.str();
    report["success"] = success;
    if (std::optional<FailureCause> cause = failure(code, resultName); cause && !success) {
        report["failure"] = failureEntry(*cause);
    }
    report["bytes_fetched"] = record_.bytesFetched();
    report["bytes_reused"] = record_.bytesReused();
    report["products"] = Document::array();
    for (const ProductResult& product : record_.products()) {
        report["products"].push_back(productEntry(product));
    }
    report["totals"] = totals(previous, report, success);
    return report;
}

// A product the run fetched but did not install, or failed for without a
// cause of its own, failed for the run's cause.
const FailureCause& RunReport::causeOf(const ProductResult& product) const {
    bool failed = std::string(outcomeOf(product)) == "failed";
    return failed && !product.cause.known() ? record_.cause() : product.cause;
}

Document RunReport::productEntry(const ProductResult& product) const {
    Document entry = {{"id", product.id}};
    for (const LmProduct& known : inventory_) {
        if (known.info.id == product.id) {
            entry["name"] = known.info.name.str();
            entry["from_version"] = known.version.version.str();
        }
    }
    if (!product.toVersion.isEmpty()) {
        entry["to_version"] = product.toVersion.str();
    }
    entry["outcome"] = outcomeOf(product);
    if (const FailureCause& cause = causeOf(product); cause.known()) {
        entry["failure"] = failureEntry(cause);
    }
    entry["bytes_fetched"] = product.bytesFetched;
    entry["bytes_reused"] = product.bytesReused;
    entry["attempts"] = product.attempts;
    if (!product.server.isEmpty()) {
        entry["server"] = product.server.str();
    }
    entry["duration_seconds"] =
        static_cast<double>(static_cast<int64_t>(product.seconds * 1000)) / 1000;
    return entry;
}

std::optional<FailureCause> RunReport::failure(int code, const String& resultName) const {
    for (const ProductResult& product : record_.products()) {
        if (causeOf(product).known() && product.outcome != ProductOutcome::kSkipped) {
            return causeOf(product);
        }
    }
    for (const ProductResult& product : record_.products()) {
        if (product.cause.known()) {
            return product.cause;
        }
    }
    if (record_.cause().known()) {
        return record_.cause();
    }
    std::optional<FailureCause> byName = causeOfName(resultName);
    return byName ? byName : causeOfCode(action_, code);
}

Document RunReport::totals(const Document& previous, const Document& report, bool success) {
    Document before = previous.is_object() ? previous.value("totals", Document()) : Document();
    Document totals;
    totals["bytes_fetched"] =
        countIn(before, "bytes_fetched") + report["bytes_fetched"].get<int64_t>();
    totals["bytes_reused"] =
        countIn(before, "bytes_reused") + report["bytes_reused"].get<int64_t>();
    if (success) {
        totals["last_success"] = report["ended"];
    } else if (timeIn(before, "last_success")) {
        totals["last_success"] = before["last_success"];
    }
    return totals;
}
