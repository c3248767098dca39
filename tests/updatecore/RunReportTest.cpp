#include "outcome/RunReport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "TempRoot.h"
#include "outcome/MetricsFile.h"
#include "outcome/RunReportFiles.h"
#include "state/FailureCause.h"

namespace {

struct CauseCase {
    const char* message;
    bool refusal;  // a trust rule's reason, else a transport failure's message
    const char* cls;
    const char* reason;
};

// The messages the transport and the trust rules raise, as the report
// classes them.
const std::vector<CauseCase> kCauses = {
    {"EC_CONNECT_REFUSED: connecting refused failed", false, "network", ""},
    {"EC_INVALID_HOST: invalid remote host", false, "dns", ""},
    {"EC_PROXY_FAILED: proxy authentication failed (407)", false, "proxy", ""},
    {"SSL: certificate verify failed: self-signed certificate", false, "tls", ""},
    {"EC_READ_TIMEOUT: download deadline passed", false, "deadline", ""},
    {"sha256 mismatch", true, "package-refused", "digest"},
    {"md5 mismatch", true, "package-refused", "digest"},
    {"bad signature", true, "package-refused", "signature"},
    {"malformed sha256", true, "package-refused", "encoding"},
    {"not newer than the installed 2.0", true, "package-refused", "rollback"},
    {"not requested", true, "package-refused", "not-requested"},
    {"file name: a link", true, "package-refused", "path"},
    {"not enough disk space: 10 bytes short", true, "disk", ""},
    {"LmUpdate: redirect from https to http refused", true, "answer-refused", ""},
};

TEST(FailureCauseTest, ClassesEveryKnownMessage) {
    for (const CauseCase& c : kCauses) {
        SCOPED_TRACE(c.message);
        FailureCause cause = c.refusal ? FailureCause::ofRefusal(c.message)
                                       : FailureCause::ofTransport(c.message, false);
        EXPECT_EQ(cause.cls.str(), c.cls);
        EXPECT_EQ(cause.reason.str(), c.reason);
        EXPECT_EQ(cause.detail.str(), c.message);
    }
    EXPECT_EQ(FailureCause::ofTransport("EC_CONNECT_REFUSED: x", true).cls.str(), "proxy");
    FailureCause earlier = FailureCause::ofEarlierFailure("HTTP 404");
    EXPECT_EQ(earlier.cls.str() + "/" + earlier.reason.str(), "http-status/backoff");
}

class RunReportFilesTest : public ::testing::Test {
protected:
    void SetUp() override { processRoot().clear(); }

    static RunReport::Document ended(RunReport& report, int code,
                                     const RunReport::Document& previous) {
        return report.end(code, String(), previous);
    }
};

// Totals go on from the previous report; a failed run keeps the last
// success's time.
TEST_F(RunReportFilesTest, TotalsCarryOverRuns) {
    RunRecord record;
    record.setBytesFetched(1000);
    RunReport first("update");
    first.take(record);
    RunReport::Document one = ended(first, 0, RunReport::Document());
    RunReport second("update");
    second.take(record);
    RunReport::Document two = ended(second, -5, one);
    EXPECT_EQ(two["exit_status"], 251);
    EXPECT_EQ(two["success"], false);
    EXPECT_EQ(two["totals"]["bytes_fetched"], 2000);
    EXPECT_EQ(two["totals"]["last_success"], one["ended"]);
}

// The history keeps its newest lines; text that is not UTF-8 is replaced,
// not a failure.
TEST_F(RunReportFilesTest, HistoryKeepsTheNewestLines) {
    int runs = RunReportFiles::kHistoryLines + 3;
    std::string earlier;
    for (int i = 0; i < runs - 1; ++i) {
        earlier += "{\"run\":" + std::to_string(i) + "}\n";
    }
    processRoot().write("logs/runs.jsonl", earlier);
    RunReport::Document report = {{"run", runs - 1}, {"detail", "bad \xff byte"}};
    RunReportFiles::write(report, true);
    std::string history = processRoot().read("logs/runs.jsonl");
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), RunReportFiles::kHistoryLines);
    EXPECT_EQ(history.find("{\"run\":3}\n"), 0u);
    EXPECT_NE(history.find("\"bad \xef\xbf\xbd byte\""), std::string::npos);
    EXPECT_EQ(RunReportFiles::readLast()["run"], runs - 1);
}

TEST(MetricsFileTest, EscapesLabelValues) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"1.0", "1.0"}, {"a\"b", "a\\\"b"}, {"a\\b", "a\\\\b"}, {"a\nb", "a\\nb"}};
    for (const auto& [value, escaped] : cases) {
        EXPECT_EQ(MetricsFile::labelValue(value), escaped) << value;
    }
}

}  // namespace
