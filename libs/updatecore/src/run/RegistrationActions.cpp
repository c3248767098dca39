// The registration and listing actions of LmUpdateCore.h.
#include "LmUpdateCore.h"

#include "Exception.h"
#include "SystemLog.h"
#include "Utils.h"
#include "report/Report.h"
#include "run/EntryGuard.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

using namespace ResultCode;

namespace {

constexpr char kLogPrefix[] = "LmUpdate: ";
constexpr char kNoProducts[] = "No any products exist in inventory";

// An option counts as given only with a non-empty value.
bool given(const OptionLookup& options, const char* name, String& value) {
    value.clear();
    return options(name, value) && !value.isEmpty();
}

void copyIfGiven(const OptionLookup& options, const char* name, String& field) {
    String value;
    if (given(options, name, value)) {
        field = value;
    }
}

bool readId(const OptionLookup& options, int32_t& id) {
    String text;
    if (!given(options, "id", text)) {
        writeLineToStandardOutput("LmUpdate: no product id is specified!");
        return false;
    }
    if (!tryParseNumber(text, id)) {
        writeLineToStandardOutput("LmUpdate: invalid product id is specified!");
        return false;
    }
    return true;
}

bool readFullProduct(const OptionLookup& options, LmProduct& product) {
    copyIfGiven(options, "desc", product.info.desc);
    copyIfGiven(options, "lang-code", product.info.langCode);
    copyIfGiven(options, "oem", product.info.OEM);
    copyIfGiven(options, "serialno", product.info.serialNo);
    copyIfGiven(options, "parent", product.info.parent);
    if (!given(options, "path", product.info.installPath)) {
        writeLineToStandardOutput("LmUpdate: no product install path is specified!");
        return false;
    }
    String version;
    if (!given(options, "version", version)) {
        writeLineToStandardOutput("LmUpdate: no product version is specified!");
        return false;
    }
    String status;
    String desc;
    given(options, "version-status", status);
    given(options, "version-desc", desc);
    product.version = LmVersionInfo(version, status, desc);
    return true;
}

// The product's listing followed by its version text in parentheses.
String describe(const LmProductInfo& info, const String& versionText) {
    return info.toString() + " (" + versionText + ")";
}

// Listing, version line and last-update text of one product.
String listing(const LmProduct& product, const LastUpdateTexts& lastUpdates) {
    return product.info.toString() + "Version:     " + product.version.version + "\n" +
           lastUpdateInfo(lastUpdates, product.info.id);
}

// The products a listing shows: every one (id 0) or the one of id.
Vector<LmProduct> productsToList(int32_t id) {
    LmUpdateStore& store = LmUpdateStore::instance();
    Vector<LmProduct> products(0, 20);
    LmProduct product;
    if (id == 0) {
        store.getInstalledProducts(products);
    } else if (store.findProduct(id, product)) {
        products.add(product);
    }
    return products;
}

String allListings(const Vector<LmProduct>& products) {
    const LastUpdateTexts lastUpdates = readLastUpdateTexts();
    String text("Installed Torvane products: \n");
    for (const LmProduct& product : products) {
        text.append('\n').append(listing(product, lastUpdates));
    }
    return text;
}

// One decimal id a line, for scripts: the listing cannot serve them, as a
// description holding a newline can forge any line of it.
String idLines(const Vector<LmProduct>& products) {
    String text;
    for (const LmProduct& product : products) {
        text.append(decimalText(product.info.id)).append('\n');
    }
    return text;
}

int listSteps(int32_t id, ListForm form) {
    const Vector<LmProduct> products = productsToList(id);
    if (products.isEmpty()) {
        if (form == ListForm::kListing) {
            writeToStandardOutput(kNoProducts);
        }
        return kNothingToList;
    }
    if (form == ListForm::kIds) {
        writeToStandardOutput(idLines(products));
    } else if (id == 0) {
        writeToStandardOutput(allListings(products));
    } else {
        writeToStandardOutput(listing(products[0], readLastUpdateTexts()));
    }
    return 0;
}

int registerSteps(const LmProduct& product) {
    LmUpdateStore& store = LmUpdateStore::instance();
    const String text = describe(product.info, product.version.version);
    if (!store.replaceProduct(product)) {
        SystemLog::write("LmUpdate: register product failed: " + text, LogPriority::kError);
        return kRegisterFailed;
    }
    SystemLog::write("LmUpdate: register product successful: " + text);
    return 0;
}

int deregisterSteps(const LmProduct& product) {
    LmUpdateStore& store = LmUpdateStore::instance();
    LmProduct existing;
    const bool found = store.findProduct(product.info.id, existing);
    if (found && store.removeProduct(product.info.id)) {
        SystemLog::write("LmUpdate: deregister product successful: " +
                         describe(existing.info, existing.version.version));
        return 0;
    }
    const String version = found ? existing.version.version : String();
    SystemLog::write("LmUpdate: deregister product failed: " + describe(product.info, version),
                     LogPriority::kError);
    return kDeregisterFailed;
}

int printVersionSteps(const String& idText) {
    Vector<LmProduct> products(0, 20);
    LmUpdateStore::instance().getInstalledProducts(products);
    for (const LmProduct& product : products) {
        if (decimalText(product.info.id) == idText) {
            writeToStandardOutput(product.version.version + "\n");
            return 0;
        }
    }
    writeLineToStandardOutput("0");
    return 0;
}

}  // namespace

bool parseProductArgs(const OptionLookup& options, LmProduct& product, bool full) {
    if (!readId(options, product.info.id)) {
        return false;
    }
    if (!given(options, "name", product.info.name)) {
        writeLineToStandardOutput("LmUpdate: no product name is specified!");
        return false;
    }
    return !full || readFullProduct(options, product);
}

int registerAction(const LmProduct& product) {
    return guarded(kRegisterFailed, kLogPrefix, [&] { return registerSteps(product); });
}

int deregisterAction(const LmProduct& product) {
    return guarded(kDeregisterFailed, kLogPrefix, [&] { return deregisterSteps(product); });
}

int listProducts(int32_t id, ListForm form) {
    return guarded(kNothingToList, kLogPrefix, [&] { return listSteps(id, form); });
}

int printProductVersion(const String& idText) {
    return guarded(kOk, kLogPrefix, [&] { return printVersionSteps(idText); });
}
