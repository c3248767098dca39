#pragma once

#include <cstdint>
#include <memory>

#include "LmPackageInfo.h"
#include "LmPartialFileInfo.h"
#include "LmProduct.h"
#include "PlatformInfo.h"
#include "RecordDocument.h"
#include "SizeLimit.h"
#include "Vector.h"

// One of the client's own state files, held to the caps of local
// documents: the inventory with its products and platform, the
// partial-files list, the partial-download limits and the package lists
// (readPackageInfoList). A state record whose numbers do not fit is
// ignored.
class StateDocument : public RecordDocument {
public:
    StateDocument() : RecordDocument(Source::kLocal) {}

    // Each list read empties out first and returns the count read, or -1
    // when there is no document or no list element.
    // Every child of the root, but one whose numbers do not fit.
    int readPartialFiles(Vector<LmPartialFileInfo>& out) const;
    // The products of /Inventory/Products. Entries with fewer than two
    // children, or an id or version number that does not fit, are skipped;
    // an entry with an unknown child fails the read with -1 (out keeps the
    // products read before it).
    int readInstalledProducts(Vector<LmProduct>& out) const;
    // The same, also giving each product's element position below Products.
    int readInstalledProducts(Vector<LmProduct>& out, Vector<int>& positions) const;
    // The first installed product with that id.
    bool findProduct(int32_t id, LmProduct& out) const;

    // /Inventory/PlatformInfo.
    bool readPlatformInfo(PlatformInfo& out) const;
    // /SizeLimit; true whenever there is a document.
    bool readSizeLimit(SizeLimit& out) const;

    // Parses conf/lm-delay-packages and reads its packages. 0, or -1 when
    // the file cannot be read (an unparsable file gives an empty list). A
    // package whose numbers do not fit is left out.
    int getDelayPackages(Vector<LmPackageInfo>& out);

private:
    // The inventory's Products element; null without a document.
    std::unique_ptr<XMLNode> installedProducts() const;
};
