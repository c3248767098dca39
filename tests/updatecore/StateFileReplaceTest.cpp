// A state file whose save fails half-way (here: the file may not grow past
// a few bytes, as on a full disk) must keep its old content whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "FileSizeLimit.h"
#include "InstallRoot.h"
#include "StateDocument.h"
#include "TempRoot.h"
#include "run/DelayPackageActions.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string inventory() {
    return std::string(kDecl) +
           "<LmUpdateClientSettings>\n<Inventory>\n<PlatformInfo os=\"Linux\" vendor=\"V\" "
           "arch=\"armv7l\" version=\"5.10\"/>\n<Products>\n<InstalledProduct>\n"
           "<ProductInfo id=\"7\" name=\"seven\" desc=\"d\" installPath=\"/p\"/>\n"
           "<ExtVersionInfo version=\"R1\" status=\"s\" desc=\"d\"/>\n"
           "</InstalledProduct>\n</Products>\n</Inventory>\n</LmUpdateClientSettings>\n";
}

std::string partialFiles() {
    return std::string(kDecl) +
           "<PartialFiles>\n<PartialFile productID=\"7\" url=\"http://h/a.zip\" "
           "path=\"/download/a.zip\" size=\"100\" actualSize=\"50\"/>\n</PartialFiles>\n";
}

std::string packageList() {
    return std::string(kDecl) +
           "<PackageInfoList>\n<PackageInfo path=\"dir\" file=\"a.zip\">\n"
           "<ProductInfo id=\"7\" name=\"N\" desc=\"D\" installPath=\"/i\"/>\n"
           "</PackageInfo>\n</PackageInfoList>\n";
}

LmPackageInfo package(int32_t id) {
    LmPackageInfo p;
    p.path = "dir";
    p.file = "new.zip";
    p.product.id = id;
    p.product.name = "N";
    p.version = LmVersionInfo("2.0", "s", "d");
    return p;
}

// A readable deferred list holding an older package of product 7.
std::string deferredList() {
    LmPackageInfo older = package(7);
    older.file = "a.zip";
    Vector<LmPackageInfo> list(0, 1);
    list.add(older);
    String document;
    EXPECT_TRUE(packageListDocument(list, document));
    return document.str();
}

// Binds a store to relative below the root.
LmUpdateStore& bound(LmUpdateStore& store, const char* relative) {
    EXPECT_TRUE(store.load(installPath(relative)));
    return store;
}

struct Case {
    const char* name;
    const char* file;
    std::string (*old)();
    // Saves a new document; true when it reports success.
    std::function<bool()> save;
    // The size files may grow to: the old file's size lets a save that first
    // shrinks it succeed, so a replacement made of two saves loses the entry.
    bool limitAtOldSize = false;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class StateFileReplaceTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        processRoot().clear();
        processRoot().makeStandardDirs();
    }
};

TEST_P(StateFileReplaceTest, AFailedSaveKeepsTheOldFile) {
    const Case& c = GetParam();
    const TempRoot& root = processRoot();
    root.write(c.file, c.old());
    bool saved = true;
    {
        FileSizeLimit limit(c.limitAtOldSize ? c.old().size() : 16);
        if (!limit.active()) {
            GTEST_SKIP() << "cannot limit the file size";
        }
        saved = c.save();
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(root.read(c.file), c.old());
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root.file("conf"))) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Writers, StateFileReplaceTest,
    testing::Values(Case{"AddProduct", kInventoryFile, inventory,
                         [] {
                             LmUpdateStore store;
                             LmProduct product{LmVersionInfo("1.0", "s", "d"), LmProductInfo()};
                             product.info.id = 8;
                             return bound(store, kInventoryFile).addProduct(product);
                         }},
                    Case{"RegisterProduct", kInventoryFile, inventory,
                         [] {
                             LmProduct product{LmVersionInfo("R2", "s", "d"), LmProductInfo()};
                             product.info.id = 7;
                             return LmUpdateStore().registerProduct(7, product);
                         }},
                    Case{"RegisterProductInOneSave", kInventoryFile, inventory,
                         [] {
                             LmProduct product{LmVersionInfo("R2", "s", "d"), LmProductInfo()};
                             product.info.id = 7;
                             return LmUpdateStore().registerProduct(7, product);
                         },
                         true},
                    Case{"ReplaceProductInOneSave", kInventoryFile, inventory,
                         [] {
                             LmUpdateStore store;
                             LmProduct product{LmVersionInfo("R2", "s", "d"), LmProductInfo()};
                             product.info.id = 7;
                             product.info.name = "seven";
                             return bound(store, kInventoryFile).replaceProduct(product);
                         },
                         true},
                    Case{"RemoveProduct", kInventoryFile, inventory,
                         [] {
                             LmUpdateStore store;
                             return bound(store, kInventoryFile).removeProduct(7);
                         }},
                    Case{"DefaultInventory", kInventoryFile, inventory,
                         [] { return createDefaultInventory(); }},
                    Case{"SetPartialFile", kPartialFilesFile, partialFiles,
                         [] {
                             LmUpdateStore store;
                             LmPartialFileInfo info;
                             info.productID = 9;
                             info.url = "http://h/b.zip";
                             return bound(store, kPartialFilesFile).setPartialFile(9, info);
                         }},
                    Case{"ReplacePartialFileInOneSave", kPartialFilesFile, partialFiles,
                         [] {
                             LmUpdateStore store;
                             LmPartialFileInfo info;
                             info.productID = 7;
                             info.url = "http://h/a-2.0.zip";
                             info.path = "/download/a-2.0.zip";
                             info.size = 100;
                             info.actualSize = 50;
                             return bound(store, kPartialFilesFile).setPartialFile(7, info);
                         },
                         true},
                    Case{"RemovePartialFile", kPartialFilesFile, partialFiles,
                         [] {
                             LmUpdateStore store;
                             return bound(store, kPartialFilesFile).removePartialFile(7);
                         }},
                    Case{"EmptyPartialFiles", kPartialFilesFile, partialFiles,
                         [] { return createPartialFilesFile(); }},
                    Case{"SaveDelayPackages", kDelayPackagesFile, packageList,
                         [] {
                             Vector<LmPackageInfo> list(0, 20);
                             list.add(package(8));
                             return savePackages(list, installPath(kDelayPackagesFile));
                         }},
                    Case{"DeferInOneSave", kDelayPackagesFile, deferredList,
                         [] {
                             addDelayPackage(package(7), 0);
                             Vector<LmPackageInfo> list;
                             return StateDocument().getDelayPackages(list) == 0 &&
                                    list.size() == 1 && list[0].file == "new.zip";
                         },
                         true},
                    Case{"EmptyDelayPackages", kDelayPackagesFile, packageList,
                         [] { return createDelayPackagesFile(); }}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
