#pragma once

#include <cstdint>

#include "LmPackageInfo.h"
#include "LmPartialFileInfo.h"
#include "LmProduct.h"
#include "PlatformInfo.h"
#include "SizeLimit.h"
#include "StateDocument.h"
#include "StateFileNames.h"
#include "String.h"
#include "Vector.h"

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
    StateDocument& getParser() { return parser_; }

    // Inventory. Reads give -1 / false when there is no document.
    int getInstalledProducts(Vector<LmProduct>& out) const;
    bool findProduct(int32_t id, LmProduct& out) const;
    bool readPlatformInfo(PlatformInfo& out) const;
    // False, changing nothing, when the id is already installed.
    bool addProduct(const LmProduct& product);
    bool removeProduct(int32_t id);
    // Puts product in place of every entry of its id (or adds it), in one
    // save.
    bool replaceProduct(const LmProduct& product);
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
    // In memory only; false when there was no entry to drop.
    bool appendProduct(const LmProduct& product);
    bool dropProduct(int32_t id);
    bool dropPartialFile(int32_t productID);

    String path_;
    StateDocument parser_;
};
