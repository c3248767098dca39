#pragma once

#include "LmUpdateCore.h"
#include "String.h"

// The options of one command run for its downloads, read by its steps and
// never changed.
struct DownloadOptions {
    // Where package directories are made.
    String downloadDir = "/download/lmupdate";
    // --plain: package downloads over HTTP with a download session id.
    bool plainDownload = false;
    // Pacing: a pause of pauseSeconds after every throttleKB KiB.
    int throttleKB = 0;
    int pauseSeconds = 0;
    // --seed-cache: the cap of the kept package files, in MiB (0: none kept,
    // and the cache is emptied).
    int seedCacheMiB = kDefaultSeedCacheMiB;
    // --retry-now: the run's product forgets its failed packages first.
    bool retryNow = false;
};
