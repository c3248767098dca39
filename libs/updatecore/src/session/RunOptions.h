#pragma once

#include "String.h"

// The options of one command run that its steps read and never change.
struct RunOptions {
    // Where package directories are made.
    String downloadDir = "/download/lmupdate";
    // --plain: package downloads over HTTP with a download session id.
    bool plainDownload = false;
    // Pacing: a pause of pauseSeconds after every throttleKB KiB.
    int throttleKB = 0;
    int pauseSeconds = 0;
};
