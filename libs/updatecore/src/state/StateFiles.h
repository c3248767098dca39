#pragma once

// The state files below the installation root other than the inventory's
// store: creating them, the last-update texts, and package lists.

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"

class OutputStream;

// Writes the inventory holding the platform and the update client itself
// (product 1000), replacing any file; false when that failed (logged).
bool createDefaultInventory();

// The four-line last-update texts of conf/lm-lastupdate by product id text
// in lower case (the first entry of an id counts); empty when the file is
// missing or unreadable. Read once for a listing of many products.
using LastUpdateTexts = std::unordered_map<std::string, String>;
LastUpdateTexts readLastUpdateTexts();
// The product's text in texts, or empty.
String lastUpdateInfo(const LastUpdateTexts& texts, int32_t productID);
// Both steps for one product.
String getLastUpdateInfo(int32_t productID);

// Removes what saves of the state files cut off by a crash or power cut
// left behind, when last written an hour or more before now.
void removeStaleTemporaryFiles(time_t now);

// Empty state files, replacing any file; false when that failed.
bool createPartialFilesFile();
bool createDelayPackagesFile();

// Writes the packages (those with a product id) as a package-list file.
// False when the file could not be written (logged).
bool savePackages(const Vector<LmPackageInfo>& list, const String& path);
// The package-list document of the packages with a product id, as
// savePackages writes it, made in memory; false when no tree can be made.
bool packageListDocument(const Vector<LmPackageInfo>& list, String& document);
// Writes every package as a package-list document to `to` (nothing for an
// empty list). The number of packages.
int writePackageList(OutputStream& to, const Vector<LmPackageInfo>& list);
