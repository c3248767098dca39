#pragma once

#include "String.h"

// The installation root named by REGISTER_DIR, read once; unset gives the
// empty root so that paths fall directly below "/".
const String& installRoot();

// installRoot() + "/" + relative, e.g. installPath("conf/network.xml").
String installPath(const char* relative);
