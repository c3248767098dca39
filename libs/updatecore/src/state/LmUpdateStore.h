#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "LmPackageInfo.h"
#include "LmPartialFileInfo.h"
#include "LmProduct.h"
#include "LmUpdateParser.h"
#include "PlatformInfo.h"
#include "SizeLimit.h"
#include "String.h"
#include "Vector.h"

class OutputStream;

// Relative names of the inventory and the state files below the root.
inline constexpr char kInventoryFile[] = "conf/lm-inventory";
inline constexpr char kLastUpdateFile[] = "conf/lm-lastupdate";
inline constexpr char kPartialFilesFile[] = "conf/lm-partial-files";
inline constexpr char kPartialConfigFile[] = "conf/lm-partial-config";
inline constexpr char kDelayPackagesFile[] = "conf/lm-delay-packages";
inline constexpr char kNewPackagesFile[] = "conf/lm-newpkgs";
inline constexpr char kFirmwarePackagesFile[] = "shared_conf/lm-firmware-packages";

// The document of one XML state file: the product inventory, or the
// partial-files list or partial-download configuration. A store works on
// the file it was last bound to with load(); the process-wide instance is
// bound by its users (registerProduct binds it to the inventory itself).
// Only load() lets an exception through.
class LmUpdateStore {
public:
    LmUpdateStore() = default;
    LmUpdateStore(const LmUpdateStore&) = delete;
    LmUpdateStore& operator=(const LmUpdateStore&) = delete;
    virtual ~LmUpdateStore() = default;

    static LmUpdateStore& instance();

    // Binds the store to path and parses the file. False for an empty path
    // (nothing changes) or an unparsable file. Raises IOException (path,
    // ": ", the system's error text) when the file cannot be opened; the
    // store is bound to path even then.
    bool load(const String& path);
    bool isLoaded() const;
    // Writes the document to the bound file and parses it again.
    bool save();
    const String& getPath() const { return path_; }
    LmUpdateParser& getParser() { return parser_; }

    // Inventory. Reads give -1 / false when there is no document.
    int getInstalledProducts(Vector<LmProduct>& out) const;
    bool findProduct(int32_t id, LmProduct& out) const;
    bool readPlatformInfo(PlatformInfo& out) const;
    // False, changing nothing, when the id is already installed.
    bool addProduct(const LmProduct& product);
    bool removeProduct(int32_t id);
    // Binds to the inventory, then adds or replaces; a replaced entry keeps
    // its parent, serialNo, langCode and OEM.
    bool registerProduct(int32_t id, const LmProduct& product);
    // registerProduct of the product and version an installed package brings.
    bool registerPackage(int32_t id, const LmPackageInfo& package);

    // The request document for productID (self-update for 1000) built from
    // the bound inventory; false with out empty when it cannot be built.
    bool buildRequest(int32_t productID, String& out) const;

    // Partial-files list (store bound to conf/lm-partial-files).
    bool getPartialFile(int32_t productID, LmPartialFileInfo& out) const;
    bool removePartialFile(int32_t productID);
    // Replaces the product's entry by info, at the end of the list.
    bool setPartialFile(int32_t productID, const LmPartialFileInfo& info);

    // Partial-download limits (store bound to conf/lm-partial-config).
    bool getSizeLimit(SizeLimit& out) const;

private:
    String path_;
    LmUpdateParser parser_;
};

// Writes the inventory holding the platform and the update client itself
// (product 1000), replacing any file. 0, or -1.
int createDefaultInventory();

// The four-line last-update texts of conf/lm-lastupdate by product id text
// in lower case (the first entry of an id counts); empty when the file is
// missing or unreadable. Read once for a listing of many products.
using LastUpdateTexts = std::unordered_map<std::string, String>;
LastUpdateTexts readLastUpdateTexts();
// The product's text in texts, or empty.
String lastUpdateInfo(const LastUpdateTexts& texts, int32_t productID);
// Both steps for one product.
String getLastUpdateInfo(int32_t productID);

// Empty state files, replacing any file. 0, or -1.
int createPartialFilesFile();
int createDelayPackagesFile();

// Writes the packages (those with a product id) as a package-list file.
// 0, or -1.
int savePackages(const Vector<LmPackageInfo>& list, const String& path);
// Writes every package as a package-list document to `to` (nothing for an
// empty list). The number of packages.
int writePackageList(OutputStream& to, const Vector<LmPackageInfo>& list);

// The cross-process write lock kept by ROOT/bin/write_lock.pl. The wait
// status of the script: 0 when it succeeded, anything else means the lock
// was not obtained (or not released).
int lockWrite(int pid, int timeout);
int tryLockWrite(int pid, int timeout);
int unlockWrite(int pid);
