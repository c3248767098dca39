#pragma once

#include "LmPackageInfo.h"
#include "LmUpdateCore.h"

// The actions on deferred ("delay") packages, kept in conf/lm-delay-packages
// (delayPackageAction of LmUpdateCore.h), and the step that defers one.

// Records a package as deferred, replacing an older deferred package of the
// same product; a failure is logged.
void addDelayPackage(const LmPackageInfo& package, int removeFiles);
