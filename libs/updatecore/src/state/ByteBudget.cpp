#include "state/ByteBudget.h"

#include <charconv>
#include <cstdio>

#include "Exception.h"
#include "FileLock.h"
#include "InstallRoot.h"
#include "StateDocument.h"
#include "Utils.h"
#include "io/AtomicFileWriter.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "report/Report.h"

namespace {

std::optional<int64_t> byteCount(const String& text) {
    std::string_view digits = text.view();
    int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < 0) {
        return std::nullopt;
    }
    return value;
}

// Charges of concurrent runs must not overwrite each other.
String lockPath() {
    return installPath(ByteBudget::kFile) + ".lock";
}

}  // namespace

void ByteBudget::charge(int64_t total, std::time_t now) {
    if (!limited()) {
        return;
    }
    FileLock lock(lockPath());
    lock.lock();
    read(now);
    if (total > charged_) {
        used_ += total - charged_;
        charged_ = total;
        write();
    }
}

bool ByteBudget::allows(int64_t bytes, std::time_t now) {
    if (!limited()) {
        return true;
    }
    read(now);
    return bytes <= limit_ - used_;
}

String ByteBudget::reachedLine() const {
    char used[32];
    std::snprintf(used, sizeof used, "%.1f", static_cast<double>(used_) / kMiB);
    return "LmUpdate: daily byte budget reached: " + String(used) + " of " +
           decimalText(limit_ / kMiB) + " MiB";
}

String ByteBudget::dayOf(std::time_t now) {
    return formatUtcTime(now, "%Y-%m-%d");
}

void ByteBudget::read(std::time_t now) {
    day_ = dayOf(now);
    String path = installPath(kFile);
    if (!File(path).exists()) {
        used_ = 0;
        return;
    }
    StateDocument document;
    String date;
    String bytes;
    try {
        FileInputStream in(path);
        document.parse(in);
    } catch (const IOException& e) {
        logError("LmUpdate: " + e.getMessage());
    }
    std::optional<int64_t> count;
    if (document.getTree().getAttribute("/Day", "date", date) &&
        document.getTree().getAttribute("/Day", "bytes", bytes)) {
        count = byteCount(bytes);
    }
    if (!count || date.length() != day_.length()) {
        logWarning("LmUpdate: byte count unreadable: the day counts as spent");
        used_ = limit_;
        return;
    }
    // ISO dates order as text. A later date: the clock went back.
    if (date.compareTo(day_) >= 0) {
        day_ = date;
        used_ = *count;
    } else {
        used_ = 0;
    }
}

void ByteBudget::write() const {
    try {
        AtomicFileWriter out(installPath(kFile));
        String text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LmByteCount><Day date=\"" +
                      day_ + "\" bytes=\"" + decimalText(used_) + "\"/></LmByteCount>\n";
        out.write(text.data(), text.length());
        out.commit();
    } catch (const IOException& e) {
        logError("LmUpdate: cannot write " + e.getMessage());
    }
}
