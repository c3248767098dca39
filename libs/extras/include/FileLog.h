#pragma once

#include <memory>

#include "Log.h"
#include "io/FileOutputStream.h"

// A log appending time-stamped lines to a file, or to standard error when
// it has no file name.
class FileLog : public Log {
public:
    FileLog();
    // Opens path for appending.
    explicit FileLog(const String& path);
    ~FileLog() override;

    // date " " time "\t" message
    void write(const String& message) override;
    void logPairs(const NameValuePairs& pairs) override;
    // date " " time "\t" level word "\t" message
    void log(const String& message, int level) override;
    // Deletes the file and opens it again.
    void reset() override;
    // The values only, tabs turned into blanks, separated by tabs, then "\n".
    void formatPairs(const NameValuePairs& pairs, String& out) override;
    // An empty path selects standard error and gives false. The open file is
    // kept when the path still names it (no other process rotated it);
    // otherwise path is opened for appending (permission bits 0666 before
    // the umask). True when the file is open.
    virtual bool open(const String& path);
    virtual const String& getFileName() const { return fileName_; }

protected:
    // Closes the log's own stream; standard error stays open.
    void closeStream();

private:
    // Log::write with the time stamp and a tab in front of text.
    void writeStamped(const String& text);

    String fileName_;
    int fd_ = -1;
    std::unique_ptr<FileOutputStream> ownedStream_;
};
