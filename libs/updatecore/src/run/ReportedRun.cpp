#include "run/ReportedRun.h"

#include <nlohmann/json.hpp>

#include "Exception.h"
#include "outcome/MetricsFile.h"
#include "outcome/RunReportFiles.h"
#include "report/Report.h"
#include "state/LmUpdateStore.h"

namespace {

ReportedRun* active = nullptr;

String& metricsFile() {
    static String path;
    return path;
}

// The totals go on from here; a missing or broken report starts them anew.
RunReport::Document previousReport() {
    try {
        return RunReportFiles::readLast();
    } catch (const IOException&) {
        return RunReport::Document();
    }
}

}  // namespace

ReportedRun::ReportedRun(const char* action) : report_(action) {
    rememberReportedError(String());
    active = this;
}

ReportedRun::~ReportedRun() {
    if (active == this) {
        active = nullptr;
    }
}

int ReportedRun::end(int code) {
    if (ended_) {
        return code;
    }
    ended_ = true;
    active = nullptr;
    RunReport::Document report = report_.end(code, lastReportedError(), previousReport());
    writeReport(report);
    writeMetrics(report);
    return code;
}

void ReportedRun::setMetricsFile(const String& path) {
    metricsFile() = path;
}

void ReportedRun::endActive(int code) {
    if (active != nullptr) {
        active->end(code);
    }
}

void ReportedRun::writeReport(const RunReport::Document& report) const {
    try {
        RunReportFiles::write(report, report_.action() == "update");
    } catch (const Exception& e) {
        logError("LmUpdate: cannot write run report: " + e.getMessage());
    }
}

void ReportedRun::writeMetrics(const RunReport::Document& report) {
    if (metricsFile().isEmpty()) {
        return;
    }
    Vector<LmProduct> products;
    LmUpdateStore::instance().getInstalledProducts(products);
    try {
        MetricsFile::write(metricsFile(), report, products);
    } catch (const Exception& e) {
        showError("LmUpdate: cannot write metrics: " + e.getMessage());
    }
}
