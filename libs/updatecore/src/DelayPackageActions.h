#pragma once

#include <cstdint>

#include "LmPackageInfo.h"
#include "String.h"

// The actions on deferred ("delay") packages, kept in conf/lm-delay-packages.
//
// action is "install", "status" or "remove" (any case); any other word does
// nothing and gives 0. id 0 means every deferred package for "status" and
// "remove"; "install" needs a product id.
//   status   prints the package-list document of the deferred packages of
//            id to standard output and leaves it in action as well
//   remove   drops the deferred packages of id; removeFiles non-zero also
//            deletes their directories
//   install  runs the install-package script of the one deferred package
//            of id, then removes it, and enters it in the inventory when
//            the script exited with 0 or 1
// Results: 0 success, -1 failure; "install" also 1 and 2 (the script's exit
// status) and -2 (the inventory could not be updated). Never throws.
int delayPackageAction(int32_t id, String& action, int removeFiles);

// Records a package as deferred, replacing an older deferred package of the
// same product. Returns 0.
int addDelayPackage(const LmPackageInfo& package, int removeFiles);
