#include "outcome/RunReportFiles.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>

#include "Exception.h"
#include "FileLock.h"
#include "InstallRoot.h"
#include "io/AtomicFileWriter.h"
#include "io/File.h"
#include "outcome/LastRunTable.h"

namespace {

constexpr mode_t kReportMode = 0644;

[[noreturn]] void failReading(const String& path, const String& reason) {
    throw IOException(path + ": " + reason, "RunReportFiles", __LINE__);
}

void replaceFile(const String& path, const std::string& content) {
    AtomicFileWriter out(path);
    out.forceMode(kReportMode);
    out.write(content.data(), static_cast<int>(content.size()));
    out.commit();
}

// The newest lines of the history that stay beside one more.
std::deque<std::string> keptLines(const String& path) {
    std::deque<std::string> lines;
    std::ifstream in(path.str());
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            continue;
        }
        lines.push_back(std::move(line));
        if (static_cast<int>(lines.size()) >= RunReportFiles::kHistoryLines) {
            lines.pop_front();
        }
    }
    return lines;
}

}  // namespace

String RunReportFiles::lastRunPath() {
    return installPath("logs/last-run.json");
}

String RunReportFiles::historyPath() {
    return installPath("logs/runs.jsonl");
}

RunReport::Document RunReportFiles::readLast() {
    String path = lastRunPath();
    std::ifstream in(path.str());
    if (!in) {
        failReading(path, std::strerror(errno));
    }
    RunReport::Document report = RunReport::Document::parse(in, nullptr, false);
    if (report.is_discarded() || !report.is_object()) {
        failReading(path, "not a run report");
    }
    return report;
}

String RunReportFiles::showLast(bool json) {
    RunReport::Document report = readLast();
    return String(json ? text(report) + "\n" : LastRunTable::render(report));
}

std::string RunReportFiles::text(const RunReport::Document& report) {
    return report.dump(-1, ' ', false, RunReport::Document::error_handler_t::replace);
}

void RunReportFiles::write(const RunReport::Document& report, bool history) {
    File(installPath("logs")).mkdirs();
    std::string line = text(report);
    replaceFile(lastRunPath(), line + "\n");
    if (history) {
        append(line);
    }
}

// Under the history's lock, so that two runs ending together keep both
// lines.
void RunReportFiles::append(const std::string& line) {
    String path = historyPath();
    FileLock lock(path + ".lock");
    lock.lock();
    std::string content;
    for (const std::string& kept : keptLines(path)) {
        content += kept + "\n";
    }
    replaceFile(path, content + line + "\n");
}
