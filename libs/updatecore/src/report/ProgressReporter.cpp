#include "report/ProgressReporter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ChildProcess.h"
#include "InstallRoot.h"
#include "SystemLog.h"

extern char** environ;

namespace {

constexpr char kUpdateScript[] = "/bin/update_status.pl";
constexpr char kFirmwareScript[] = "/bin/firmware_update.pl";

bool isPlainCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("_-./,:@%+=", c) != nullptr;
}

// Perl by its absolute path (not whatever PATH finds first) and the script
// below the root, as one shell word.
String perlCommand(const String& root, const char* script) {
    return "/usr/bin/perl " + ProgressReporter::shellQuote(root + script);
}

// The formatted line, cut like the fixed-size buffer it was built for.
String cut(const String& line) {
    return line.length() > ProgressReporter::kMaxCommand
               ? line.substring(0, ProgressReporter::kMaxCommand)
               : line;
}

// The update script's line for product id up to its status.
String updateScriptLine(const String& root, long id, const char* status) {
    String line = perlCommand(root, kUpdateScript);
    line.append(" --action update --id ").append(id).append(" --status ").append(status);
    return line;
}

// The byte counts of a download report.
void appendSizes(String& line, long downloadedSize, long totalSize) {
    line.append(" --downloaded_size ").append(downloadedSize);
    line.append(" --total_size ").append(totalSize);
}

// Our environment, with LM_LOG_FORMAT=journal when our own lines carry the
// journal's prefixes: the script then prints plain prefixed lines too.
Vector<String> scriptEnvironment() {
    static constexpr std::string_view kFormatVariable = "LM_LOG_FORMAT=";
    Vector<String> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with(kFormatVariable)) {
            entries.add(String(*entry));
        }
    }
    if (SystemLog::format() == LogFormat::kJournal) {
        entries.add(String("LM_LOG_FORMAT=journal"));
    }
    return entries;
}

}  // namespace

String ProgressReporter::shellQuote(const String& text) {
    bool plain = true;
    for (char c : text.view()) {
        plain = plain && isPlainCharacter(c);
    }
    if (plain) {
        return text;
    }
    String quoted("'");
    for (char c : text.view()) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.append(c);
        }
    }
    return quoted.append('\'');
}

String ProgressReporter::requestCommand(const String& root, long id) {
    return cut(updateScriptLine(root, id, "request"));
}

String ProgressReporter::downloadCommand(const String& root, long id, long downloadedSize,
                                         long totalSize) {
    String line = updateScriptLine(root, id, "download");
    appendSizes(line, downloadedSize, totalSize);
    return cut(line);
}

String ProgressReporter::stoppedCommand(const String& root, long id, long downloadedSize,
                                        long totalSize) {
    String line = updateScriptLine(root, id, "stopped");
    appendSizes(line, downloadedSize, totalSize);
    return cut(line);
}

String ProgressReporter::installCommand(const String& root, long id) {
    return cut(updateScriptLine(root, id, "install"));
}

String ProgressReporter::firmwareCommand(const String& root, long pid, long downloadedSize,
                                         long totalSize, const String& version) {
    String line = perlCommand(root, kFirmwareScript);
    line.append(" --action UPDATE --updatePID ").append(pid).append(" --status download");
    appendSizes(line, downloadedSize, totalSize);
    line.append(" --version ").append(shellQuote(version));
    return cut(line);
}

void ProgressReporter::reportRequest(long id) {
    run(requestCommand(installRoot(), id));
}

void ProgressReporter::reportDownloadStart(long id, long totalSize) {
    run(downloadCommand(installRoot(), id, 0, totalSize));
}

void ProgressReporter::reportDownloadProgress(long id, long downloadedSize, long totalSize) {
    run(downloadCommand(installRoot(), id, downloadedSize, totalSize));
}

void ProgressReporter::reportDownloadStopped(long id, long downloadedSize, long totalSize) {
    run(stoppedCommand(installRoot(), id, downloadedSize, totalSize));
}

void ProgressReporter::reportInstall(long id) {
    run(installCommand(installRoot(), id));
}

void ProgressReporter::reportFirmwareStart(long pid, long totalSize, const String& version) {
    run(firmwareCommand(installRoot(), pid, 0, totalSize, version));
}

void ProgressReporter::reportFirmwareProgress(long pid, long downloadedSize, long totalSize,
                                              const String& version) {
    run(firmwareCommand(installRoot(), pid, downloadedSize, totalSize, version));
}

// Through a child of our own rather than system(), which ignores SIGINT
// while the script runs: a stop asked for then would be lost. In a process
// group of its own, so that a stop sent to ours reaches us first and the
// script ends on its own.
void ProgressReporter::run(const String& command) {
    // Keep our own output ahead of whatever the script prints.
    std::fflush(stdout);
    ChildProcess script("/bin/sh", {"sh", "-c", command});
    script.startOwnProcessGroup();
    script.setEnvironment(scriptEnvironment());
    if (script.start()) {
        script.wait();
    }
}
