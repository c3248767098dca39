#pragma once

#include "String.h"

class DebugLog;
class NameValuePairs;
class OutputStream;
class RotationFileLog;

// A log writing to an output stream (not owned; null discards). Logging
// never reports failures to its caller. The static members are the
// process-wide logging switches and logs.
class Log : public LmObject {
public:
    enum Level { kWarning = 1, kError = 2, kDebug = 3 };

    explicit Log(OutputStream* stream = nullptr) : stream_(stream) {}
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Writes the message with a "\n" added unless it ends with one, between
    // lock and unlock; nothing when logging is disabled.
    virtual void write(const String& message);
    virtual void logPairs(const NameValuePairs& pairs);
    // Levels: 1 "warning", 2 "error", 3 "debug", any other "info". No level
    // is filtered out.
    virtual void log(const String& message, int level);
    virtual void reset() {}
    virtual void trim(int /*sizeKiB*/) {}
    // Appends each pair's text and "\n", then "==\n".
    virtual void formatPairs(const NameValuePairs& pairs, String& out);
    virtual void lock() {}
    virtual void unlock() {}

    static const char* levelWord(int level);

    static void disableLogging();
    static void enableLogging();
    static bool isLoggingEnabled();
    // 1 selects the rotating file log as the general log.
    static void setRotationMode(int mode);
    static int getRotationMode();
    // Size limit of the rotating file log in KiB; 0: never rotate.
    static void setMaxLogSize(int sizeKiB);
    static int getMaxLogSize();
    // Highest rotation suffix kept by the rotating file log (initially 4);
    // values of 0 or less are ignored.
    static void setRotatedFileCount(int count);
    static int getRotatedFileCount();
    // The debug log when debug is enabled, otherwise the discarding log.
    static Log& getInstance();
    static void setDebugEnabled(bool enabled);
    static bool isDebugEnabled();
    static DebugLog& getDebugLog();
    // The rotating file log when the rotation mode is 1, otherwise the
    // discarding log.
    static Log& getLog();
    static RotationFileLog& getRotationLog();
    static String getDebugLogName();
    static String getLogName();

protected:
    OutputStream* stream() const { return stream_; }
    void setStream(OutputStream* stream) { stream_ = stream; }

private:
    OutputStream* stream_;
};
