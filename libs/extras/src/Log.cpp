#include "Log.h"

#include "DebugLog.h"
#include "Exception.h"
#include "NameValuePairs.h"
#include "RotationFileLog.h"
#include "io/OutputStream.h"

namespace {
struct Settings {
    bool loggingEnabled = true;
    int rotationMode = 0;
    int maxLogSize = 0;
    int rotatedFileCount = 4;
    bool debugEnabled = false;
};

Settings& settings() {
    static Settings values;
    return values;
}

Log& discardingLog() {
    static Log log;
    return log;
}
}  // namespace

void Log::write(const String& message) {
    if (!settings().loggingEnabled) {
        return;
    }
    String text = message;
    if (!text.endsWith("\n")) {
        text += "\n";
    }
    // Logging never fails its caller: a line that cannot be written is lost.
    try {
        lock();
        if (stream_ != nullptr) {
            stream_->write(text);
        }
    } catch (const Exception&) {
    }
    try {
        unlock();
    } catch (const Exception&) {
    }
}

void Log::logPairs(const NameValuePairs& pairs) {
    String text;
    formatPairs(pairs, text);
    Log::write(text);
}

void Log::log(const String& message, int) {
    Log::write(message);
}

void Log::formatPairs(const NameValuePairs& pairs, String& out) {
    for (int i = 0; i < pairs.size(); ++i) {
        out += pairs.pairAt(i).toString();
        out += "\n";
    }
    out += "==\n";
}

const char* Log::levelWord(int level) {
    switch (level) {
        case kWarning:
            return "warning";
        case kError:
            return "error";
        case kDebug:
            return "debug";
        default:
            return "info";
    }
}

void Log::disableLogging() {
    settings().loggingEnabled = false;
}

void Log::enableLogging() {
    settings().loggingEnabled = true;
}

bool Log::isLoggingEnabled() {
    return settings().loggingEnabled;
}

void Log::setRotationMode(int mode) {
    settings().rotationMode = mode;
}

int Log::getRotationMode() {
    return settings().rotationMode;
}

void Log::setMaxLogSize(int sizeKiB) {
    settings().maxLogSize = sizeKiB;
}

int Log::getMaxLogSize() {
    return settings().maxLogSize;
}

void Log::setRotatedFileCount(int count) {
    if (count > 0) {
        settings().rotatedFileCount = count;
    }
}

int Log::getRotatedFileCount() {
    return settings().rotatedFileCount;
}

Log& Log::getInstance() {
    return settings().debugEnabled ? static_cast<Log&>(getDebugLog()) : discardingLog();
}

void Log::setDebugEnabled(bool enabled) {
    settings().debugEnabled = enabled;
}

bool Log::isDebugEnabled() {
    return settings().debugEnabled;
}

DebugLog& Log::getDebugLog() {
    static DebugLog log;
    return log;
}

Log& Log::getLog() {
    return settings().rotationMode == 1 ? static_cast<Log&>(getRotationLog()) : discardingLog();
}

RotationFileLog& Log::getRotationLog() {
    static RotationFileLog log;
    return log;
}

String Log::getDebugLogName() {
    return getDebugLog().getFileName();
}

String Log::getLogName() {
    return getRotationLog().getFileName();
}
