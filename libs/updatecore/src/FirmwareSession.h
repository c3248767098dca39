#pragma once

#include "String.h"

// The firmware action of the update core, in two separate command runs:
//   "get_update_info"  asks the first update server for the firmware of the
//                      product whose id is argument (empty: 0) and writes the
//                      answer verbatim to standard output;
//   "update"           reads the stored answer (shared_conf/lm-firmware-packages)
//                      and downloads and verifies the firmware whose version
//                      text is argument.
// The action word is compared ignoring case. A non-empty downloadDir replaces
// the session's download directory. Results: 0, or a negative code (-1 bad
// action or product id, or the deferred list unreadable; -2, -5, -8, -9, -14,
// -15, -17, -20 to -28 from the session). Never throws.
int firmwareAction(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                   const String& downloadDir = String());
