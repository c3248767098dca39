#pragma once

// Checks that what a package names stays inside the directory it was
// unpacked in (or the mount point of its image). Each returns why not, ""
// when it does.

#include "String.h"

// Whether a path relative to a package directory stays inside it: false
// for an absolute or empty path and one with a ".." component.
bool isInsidePath(const String& path);

// The install script (a path relative to directory, "\" read as "/") must
// reach a regular file without leaving directory and without following a
// symbolic link on the way.
String scriptRefusal(const String& directory, const String& script);

// Every symbolic link below directory must name a relative target without a
// ".." component, as the links of shared libraries do.
String linkRefusal(const String& directory);
