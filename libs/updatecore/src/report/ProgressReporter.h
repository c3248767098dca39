#pragma once

#include <cstdint>

#include "String.h"

// Progress reports a transfer makes after its first one, at each further
// part of the size.
inline constexpr int32_t kProgressSteps = 20;

// The reports to the appliance's progress scripts (bin/update_status.pl for
// products, bin/firmware_update.pl for firmware, below the installation
// root). Each runs one command line through the shell and waits for it; the
// script's exit status is ignored, so a missing or failing script changes
// nothing. A root or version text that is not a plain word is quoted for
// the shell; plain values give the lines unchanged.
class ProgressReporter {
public:
    static void reportRequest(long id);
    static void reportDownloadStart(long id, long totalSize);
    static void reportDownloadProgress(long id, long downloadedSize, long totalSize);
    static void reportDownloadStopped(long id, long downloadedSize, long totalSize);
    static void reportInstall(long id);
    static void reportFirmwareStart(long pid, long totalSize, const String& version);
    static void reportFirmwareProgress(long pid, long downloadedSize, long totalSize,
                                       const String& version);

    // The command lines the reports run for installation root root, at
    // most kMaxCommand characters.
    static String requestCommand(const String& root, long id);
    static String downloadCommand(const String& root, long id, long downloadedSize, long totalSize);
    static String stoppedCommand(const String& root, long id, long downloadedSize, long totalSize);
    static String installCommand(const String& root, long id);
    static String firmwareCommand(const String& root, long pid, long downloadedSize, long totalSize,
                                  const String& version);

    // Longer command lines are cut to this length.
    static constexpr int kMaxCommand = 254;

    // text unchanged when it is a plain word, else in single quotes.
    static String shellQuote(const String& text);

private:
    static void run(const String& command);
};
