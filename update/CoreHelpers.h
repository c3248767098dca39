#pragma once

#include "String.h"

// Small steps the update core's sources share; not meant for callers of the
// core.

// value in decimal, as "%ld" would write it.
String decimalText(long value);

// Writes text as it is to standard output and flushes it, so that the
// caller reading our output sees it before any child process writes.
void writeToStandardOutput(const String& text);
