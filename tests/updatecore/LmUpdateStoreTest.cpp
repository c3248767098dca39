#include "RecordBuilders.h"
#include "state/LmUpdateStore.h"

#include <gtest/gtest.h>

#include <string>

#include "Exception.h"
#include "InstallRoot.h"
#include "StateDocument.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "io/StringOutputStream.h"
#include "state/PlatformDetector.h"
#include "state/StateFiles.h"

namespace {

const char kDecl[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const char kPlatform[] = "os=\"Linux\" vendor=\"V\" arch=\"armv7l\" version=\"5.10\"";
const char kUpdaterVersion[] =
    "<LmVersionInfo major=\"1\" minor=\"0\" patchLevel=\"0\" buildNum=\"0\" status=\"beta\" "
    "desc=\"beta released on 2003/12/31\"/>\n";

class StoreTest : public testing::Test {
protected:
    // The system log lines written while `action` ran (as echoed).
    template <class Action>
    static std::string loggedBy(Action action) {
        SystemLog::setEcho(true);
        testing::internal::CaptureStderr();
        action();
        std::string log = testing::internal::GetCapturedStderr();
        SystemLog::setEcho(false);
        return log;
    }

    void SetUp() override {
        processRoot().clear();
        processRoot().makeStandardDirs();
    }

    static const TempRoot& root() { return processRoot(); }

    // An inventory with the given InstalledProduct elements (one per line).
    static void writeInventory(const std::string& products) {
        root().write(kInventoryFile, std::string(kDecl) +
                                         "<LmUpdateClientSettings>\n<Inventory>\n"
                                         "<PlatformInfo " +
                                         kPlatform + "/>\n<Products>\n" + products +
                                         "</Products>\n</Inventory>\n</LmUpdateClientSettings>\n");
    }

    static std::string entry(int id, const std::string& name, const std::string& version) {
        return "<InstalledProduct>\n<ProductInfo id=\"" + std::to_string(id) + "\" name=\"" + name +
               "\" desc=\"d" + std::to_string(id) +
               "\" installPath=\"/p\" serialNo=\"S\" parent=\"P\" langCode=\"L\" OEM=\"O\"/>\n" +
               version + "</InstalledProduct>\n";
    }

    static LmUpdateStore& loaded(LmUpdateStore& store, const char* relative = kInventoryFile) {
        EXPECT_TRUE(store.load(installPath(relative)));
        return store;
    }

    static LmProduct product(int id, const char* name, const char* version) {
        return productRecord(id, name, version,
                             {.installPath = "/opt/x", .versionStatus = "st", .versionDesc = "ds"});
    }
};

TEST_F(StoreTest, DefaultInventoryBytesAndReadBack) {
    ASSERT_TRUE(createDefaultInventory());
    const PlatformInfo platform = PlatformDetector::detect();
    EXPECT_EQ(root().read(kInventoryFile),
              std::string(kDecl) + "<LmUpdateClientSettings>\n<Inventory>\n<PlatformInfo os=\"" +
                  platform.os.str() + "\" vendor=\"" + platform.vendor.str() + "\" arch=\"" +
                  platform.arch.str() + "\" version=\"" + platform.version.str() +
                  "\"/>\n<Products>\n<InstalledProduct>\n<ProductInfo id=\"1000\" "
                  "name=\"Updater\" desc=\"Torvane Updater\" installPath=\"" +
                  root().path() + "\"/>\n" + kUpdaterVersion +
                  "</InstalledProduct>\n</Products>\n</Inventory>\n</LmUpdateClientSettings>\n");
    LmUpdateStore store;
    Vector<LmProduct> products(0, 20);
    ASSERT_EQ(loaded(store).getInstalledProducts(products), 1);
    EXPECT_EQ(products[0].info.id, 1000);
    EXPECT_EQ(products[0].info.name, "Updater");
    EXPECT_TRUE(products[0].version.numeric);
    EXPECT_EQ(products[0].version.version, "1.0.0.0");
    EXPECT_EQ(products[0].version.status, "beta");
}

TEST_F(StoreTest, DefaultInventoryFailsWithoutConfDirectory) {
    root().remove("conf");
    EXPECT_FALSE(createDefaultInventory());
}

TEST_F(StoreTest, LoadReportsMissingAndEmptyPaths) {
    LmUpdateStore store;
    EXPECT_FALSE(store.load(""));
    EXPECT_TRUE(store.getPath().isEmpty());
    const String missing = installPath(kInventoryFile);
    try {
        store.load(missing);
        FAIL() << "no exception";
    } catch (const IOException& e) {
        EXPECT_EQ(e.getMessage(), missing + ": No such file or directory");
    }
    EXPECT_EQ(store.getPath(), missing);
    root().write(kInventoryFile, "<broken");
    EXPECT_FALSE(store.load(missing));
    EXPECT_FALSE(store.isLoaded());
    Vector<LmProduct> products(0, 20);
    EXPECT_EQ(store.getInstalledProducts(products), -1);
    EXPECT_FALSE(store.addProduct(product(5, "x", "1.0")));
}

// A store rebound to a file that cannot be opened must not keep the old
// document: saving it would overwrite the new file with the old content.
TEST_F(StoreTest, FailedLoadDropsThePreviousDocument) {
    ASSERT_TRUE(createDefaultInventory());
    LmUpdateStore store;
    loaded(store);
    EXPECT_THROW(store.load(installPath(kPartialFilesFile)), IOException);
    EXPECT_FALSE(store.isLoaded());
    Vector<LmProduct> products(0, 20);
    EXPECT_EQ(store.getInstalledProducts(products), -1);
    EXPECT_FALSE(store.addProduct(product(5, "x", "1.0")));
    EXPECT_FALSE(store.setPartialFile(5, LmPartialFileInfo()));
    EXPECT_FALSE(root().exists(kPartialFilesFile));
}

TEST_F(StoreTest, SelfUpdateRequestForDefaultInventory) {
    ASSERT_TRUE(createDefaultInventory());
    const PlatformInfo platform = PlatformDetector::detect();
    const std::string platformLine = "<Platform os=\"" + platform.os.str() + "\" vendor=\"" +
                                     platform.vendor.str() + "\" arch=\"" + platform.arch.str() +
                                     "\" version=\"" + platform.version.str() + "\"/>\n";
    const std::string updater =
        "<InstalledProduct>\n<ProductInfo id=\"1000\" name=\"Updater\" desc=\"Torvane Updater\" "
        "serialNo=\"\" parent=\"\" langCode=\"\" OEM=\"\"/>\n" +
        std::string(kUpdaterVersion) + "</InstalledProduct>\n";
    LmUpdateStore store;
    loaded(store);
    String out("old");
    ASSERT_TRUE(store.buildRequest(1000, out));
    EXPECT_EQ(out.str(), std::string(kDecl) + "<LmSelfUpdateRequest>\n<Inventory>\n" +
                             platformLine + "<Products>\n" + updater +
                             "</Products>\n</Inventory>\n</LmSelfUpdateRequest>\n");
    ASSERT_TRUE(store.buildRequest(2000, out));
    EXPECT_EQ(out.str(), std::string(kDecl) + "<LmUpdateRequest>\n<Inventory>\n" + platformLine +
                             "<Products>\n" + updater +
                             "</Products>\n</Inventory>\n</LmUpdateRequest>\n");
}

TEST_F(StoreTest, UpdateRequestMarksOnlyTheRequestedProduct) {
    const std::string numeric =
        "<LmVersionInfo major=\"2\" minor=\"1\" patchLevel=\"0\" buildNum=\"7\" status=\"s\" "
        "desc=\"v\"/>\n";
    const std::string text = "<ExtVersionInfo version=\"R12b\" status=\"s\" desc=\"v\"/>\n";
    writeInventory(entry(1000, "Updater", numeric) + entry(2000, "Two", text) +
                   entry(3000, "Three", numeric));
    LmUpdateStore store;
    String out;
    ASSERT_TRUE(loaded(store).buildRequest(2000, out));
    auto sent = [](int id, const std::string& name, const std::string& extra,
                   const std::string& version) {
        return "<InstalledProduct>\n<ProductInfo id=\"" + std::to_string(id) + "\" name=\"" + name +
               "\" desc=\"d" + std::to_string(id) +
               "\" serialNo=\"S\" parent=\"P\" langCode=\"L\" OEM=\"O\"" + extra + "/>\n" +
               version + "</InstalledProduct>\n";
    };
    EXPECT_EQ(out.str(), std::string(kDecl) + "<LmUpdateRequest>\n<Inventory>\n<Platform " +
                             kPlatform + "/>\n<Products>\n" + sent(1000, "Updater", "", numeric) +
                             sent(2000, "Two", " dependency=\"true\"", text) +
                             sent(3000, "Three", "", numeric) +
                             "</Products>\n</Inventory>\n</LmUpdateRequest>\n");
}

TEST_F(StoreTest, RequestNeedsPlatformAndProducts) {
    root().write(kInventoryFile,
                 "<LmUpdateClientSettings><Inventory><Products><InstalledProduct>"
                 "<ProductInfo id=\"1000\"/><LmVersionInfo/></InstalledProduct></Products>"
                 "</Inventory></LmUpdateClientSettings>");
    LmUpdateStore store;
    String out("x");
    EXPECT_FALSE(loaded(store).buildRequest(1000, out));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(store.buildRequest(2000, out));
    writeInventory(entry(2000, "Two", "<LmVersionInfo/>\n"));
    EXPECT_FALSE(loaded(store).buildRequest(1000, out));  // updater not installed
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(store.buildRequest(2000, out));
    writeInventory("");
    EXPECT_FALSE(loaded(store).buildRequest(2000, out));
}

TEST_F(StoreTest, AddExistingProductChangesNothing) {
    writeInventory(entry(1000, "Updater", "<LmVersionInfo/>\n"));
    const std::string before = root().read(kInventoryFile);
    LmUpdateStore store;
    EXPECT_FALSE(loaded(store).addProduct(product(1000, "Other", "2.0")));
    EXPECT_EQ(root().read(kInventoryFile), before);
}

TEST_F(StoreTest, AddWithoutProductsElementAddsNothing) {
    const std::string document =
        "<LmUpdateClientSettings><Inventory><PlatformInfo/></Inventory></LmUpdateClientSettings>";
    root().write(kInventoryFile, document);
    LmUpdateStore store;
    EXPECT_FALSE(loaded(store).addProduct(product(5, "x", "1.0")));
    EXPECT_FALSE(store.removeProduct(5));
    EXPECT_EQ(root().read(kInventoryFile), document);
}

TEST_F(StoreTest, AddWritesEveryAttributeAndVersionKind) {
    writeInventory("");
    LmUpdateStore store;
    ASSERT_TRUE(loaded(store).addProduct(product(7, "Seven", "7")));
    ASSERT_TRUE(store.addProduct(product(8, "Eight", "8.1")));
    EXPECT_EQ(root().read(kInventoryFile),
              std::string(kDecl) + "<LmUpdateClientSettings>\n<Inventory>\n<PlatformInfo " +
                  kPlatform +
                  "/>\n<Products>\n<InstalledProduct>\n<ProductInfo id=\"7\" name=\"Seven\" "
                  "desc=\"\" installPath=\"/opt/x\" serialNo=\"\" parent=\"\" langCode=\"\" "
                  "OEM=\"\"/>\n<ExtVersionInfo version=\"7\" status=\"st\" desc=\"ds\"/>\n"
                  "</InstalledProduct>\n<InstalledProduct>\n<ProductInfo id=\"8\" "
                  "name=\"Eight\" desc=\"\" installPath=\"/opt/x\" serialNo=\"\" parent=\"\" "
                  "langCode=\"\" OEM=\"\"/>\n<LmVersionInfo major=\"8\" minor=\"1\" "
                  "patchLevel=\"0\" buildNum=\"0\" status=\"st\" desc=\"ds\"/>\n"
                  "</InstalledProduct>\n</Products>\n</Inventory>\n</LmUpdateClientSettings>\n");
}

TEST_F(StoreTest, RegisterKeepsStoredFieldsAndMovesToEnd) {
    writeInventory(entry(1000, "Updater", "<LmVersionInfo major=\"1\"/>\n") +
                   entry(2000, "Old", "<LmVersionInfo major=\"1\"/>\n") +
                   entry(3000, "Three", "<LmVersionInfo major=\"3\"/>\n"));
    LmProduct update = product(2000, "New", "2.5");
    update.info.serialNo = "callerSerial";
    update.info.OEM = "callerOEM";
    update.info.desc = "newDesc";
    LmUpdateStore& store = LmUpdateStore::instance();
    ASSERT_TRUE(store.registerProduct(2000, update));
    EXPECT_EQ(store.getPath(), installPath(kInventoryFile));
    Vector<LmProduct> products(0, 20);
    ASSERT_EQ(store.getInstalledProducts(products), 3);
    EXPECT_EQ(products[0].info.id, 1000);
    EXPECT_EQ(products[1].info.id, 3000);
    const LmProduct& moved = products[2];
    EXPECT_EQ(moved.info.id, 2000);
    EXPECT_EQ(moved.info.name, "New");
    EXPECT_EQ(moved.info.desc, "newDesc");
    EXPECT_EQ(moved.info.installPath, "/opt/x");
    EXPECT_EQ(moved.info.serialNo, "S");
    EXPECT_EQ(moved.info.parent, "P");
    EXPECT_EQ(moved.info.langCode, "L");
    EXPECT_EQ(moved.info.OEM, "O");
    EXPECT_EQ(moved.version.version, "2.5.0.0");
}

TEST_F(StoreTest, RegisterWithoutInventoryFails) {
    EXPECT_FALSE(LmUpdateStore::instance().registerProduct(5, product(5, "x", "1.0")));
}

TEST_F(StoreTest, RemoveTakesTheEntryItWasReadFrom) {
    // The short entry is not a product but stays in the file; removing the
    // product after it must not remove it.
    writeInventory("<InstalledProduct>\n<ProductInfo id=\"9\"/>\n</InstalledProduct>\n" +
                   entry(9, "Nine", "<LmVersionInfo/>\n") + entry(10, "Ten", "<LmVersionInfo/>\n"));
    LmUpdateStore store;
    ASSERT_TRUE(loaded(store).removeProduct(9));
    EXPECT_FALSE(store.removeProduct(9));
    EXPECT_EQ(root().read(kInventoryFile),
              std::string(kDecl) + "<LmUpdateClientSettings>\n<Inventory>\n<PlatformInfo " +
                  kPlatform +
                  "/>\n<Products>\n<InstalledProduct>\n<ProductInfo id=\"9\"/>\n"
                  "</InstalledProduct>\n" +
                  entry(10, "Ten", "<LmVersionInfo/>\n") +
                  "</Products>\n</Inventory>\n</LmUpdateClientSettings>\n");
}

TEST_F(StoreTest, UnknownChildMakesReadFail) {
    writeInventory(entry(1, "One", "<LmVersionInfo/>\n") +
                   "<InstalledProduct>\n<ProductInfo id=\"2\"/>\n<LmVersionInfo/>\n<Note/>\n"
                   "</InstalledProduct>\n");
    LmUpdateStore store;
    Vector<LmProduct> products(0, 20);
    EXPECT_EQ(loaded(store).getInstalledProducts(products), -1);
    EXPECT_FALSE(store.removeProduct(1));
}

TEST_F(StoreTest, PartialFilesSetReplacesAndMovesToEnd) {
    ASSERT_TRUE(createPartialFilesFile());
    EXPECT_EQ(root().read(kPartialFilesFile), std::string(kDecl) + "<PartialFiles/>\n");
    LmUpdateStore store;
    loaded(store, kPartialFilesFile);
    LmPartialFileInfo info;
    EXPECT_FALSE(store.getPartialFile(1, info));
    EXPECT_FALSE(store.removePartialFile(1));
    for (int id : {1, 2, 1}) {
        info.productID = id;
        info.url = "http://h/" + std::to_string(id) + "-" + std::to_string(info.size);
        info.path = "/d/f";
        info.size = 100 + id;
        info.actualSize = 10;
        ASSERT_TRUE(store.setPartialFile(id, info));
    }
    Vector<LmPartialFileInfo> files(0, 20);
    ASSERT_EQ(store.getParser().readPartialFiles(files), 2);
    EXPECT_EQ(files[0].productID, 2);
    EXPECT_EQ(files[1].productID, 1);
    EXPECT_EQ(root().read(kPartialFilesFile),
              std::string(kDecl) +
                  "<PartialFiles>\n"
                  "<PartialFile productID=\"2\" url=\"http://h/2-101\" path=\"/d/f\" size=\"102\" "
                  "actualSize=\"10\"/>\n"
                  "<PartialFile productID=\"1\" url=\"http://h/1-102\" path=\"/d/f\" size=\"101\" "
                  "actualSize=\"10\"/>\n</PartialFiles>\n");
    LmPartialFileInfo found;
    ASSERT_TRUE(store.getPartialFile(1, found));
    EXPECT_EQ(found.url, "http://h/1-102");
    EXPECT_EQ(found.size, 101);
    EXPECT_TRUE(store.removePartialFile(2));
    EXPECT_FALSE(store.getPartialFile(2, found));
}

TEST_F(StoreTest, SetPartialFileLeavesOneEntryEvenAfterDuplicates) {
    root().write(kPartialFilesFile,
                 "<PartialFiles><PartialFile productID=\"4\" url=\"a\"/><PartialFile "
                 "productID=\"4\" url=\"b\"/></PartialFiles>");
    LmUpdateStore store;
    LmPartialFileInfo info;
    info.productID = 4;
    info.url = "c";
    ASSERT_TRUE(loaded(store, kPartialFilesFile).setPartialFile(4, info));
    Vector<LmPartialFileInfo> files(0, 20);
    ASSERT_EQ(store.getParser().readPartialFiles(files), 1);
    EXPECT_EQ(files[0].url, "c");
}

TEST_F(StoreTest, SizeLimitThroughStore) {
    root().write(kPartialConfigFile, "<SizeLimit MinSize=\"2048\"><P id=\"1000\"/></SizeLimit>");
    LmUpdateStore store;
    SizeLimit limit;
    ASSERT_TRUE(loaded(store, kPartialConfigFile).getSizeLimit(limit));
    EXPECT_EQ(limit.minSize, 2048);
    ASSERT_EQ(limit.ids.size(), 1);
    EXPECT_EQ(limit.ids[0], 1000);
}

LmPackageInfo package(int id, const char* version) {
    LmPackageInfo p;
    p.path = "dir";
    p.file = "f" + String().append(id) + ".zip";
    p.product.id = id;
    p.product.name = "N";
    p.product.desc = "D";
    p.product.installPath = "/i";
    p.product.serialNo = "not written";
    p.platform = PlatformInfo{"Linux", "V", "arm", "5"};
    p.version = LmVersionInfo(version, "s", "d");
    p.url = "http://h/f.zip";
    p.md5 = "0123abcd";
    p.size = 4096;
    p.time = "now";
    p.downloadResult = 1;
    p.format = "zip";
    p.installScript = "install.sh";
    p.runResult = 2;
    return p;
}

TEST_F(StoreTest, PackageListRoundTrip) {
    Vector<LmPackageInfo> list(0, 20);
    list.add(package(2000, "1.2.3.4"));
    list.add(package(-1, "9.9"));
    list.add(package(3000, "R7"));
    const String path = installPath(kDelayPackagesFile);
    ASSERT_TRUE(savePackages(list, path));
    EXPECT_EQ(root().read(kDelayPackagesFile),
              std::string(kDecl) +
                  "<PackageInfoList>\n<PackageInfo path=\"dir\" file=\"f2000.zip\">\n"
                  "<ProductInfo id=\"2000\" name=\"N\" desc=\"D\" installPath=\"/i\"/>\n"
                  "<PlatformInfo arch=\"arm\" os=\"Linux\" vendor=\"V\" version=\"5\"/>\n"
                  "<LmVersionInfo major=\"1\" minor=\"2\" patchLevel=\"3\" buildNum=\"4\" "
                  "status=\"s\" desc=\"d\"/>\n"
                  "<DownloadInfo url=\"http://h/f.zip\" md5=\"0123abcd\" size=\"4096\" "
                  "time=\"now\" result=\"1\"/>\n"
                  "<RunInfo format=\"zip\" installScript=\"install.sh\" result=\"2\"/>\n"
                  "</PackageInfo>\n<PackageInfo path=\"dir\" file=\"f3000.zip\">\n"
                  "<ProductInfo id=\"3000\" name=\"N\" desc=\"D\" installPath=\"/i\"/>\n"
                  "<PlatformInfo arch=\"arm\" os=\"Linux\" vendor=\"V\" version=\"5\"/>\n"
                  "<ExtVersionInfo version=\"R7\" status=\"s\" desc=\"d\"/>\n"
                  "<DownloadInfo url=\"http://h/f.zip\" md5=\"0123abcd\" size=\"4096\" "
                  "time=\"now\" result=\"1\"/>\n"
                  "<RunInfo format=\"zip\" installScript=\"install.sh\" result=\"2\"/>\n"
                  "</PackageInfo>\n</PackageInfoList>\n");

    StateDocument state;
    Vector<LmPackageInfo> read(0, 20);
    ASSERT_EQ(state.getDelayPackages(read), 0);
    ASSERT_EQ(read.size(), 2);
    EXPECT_TRUE(read[0].version.numeric);
    EXPECT_EQ(read[0].version.version, "1.2.3.4");
    EXPECT_EQ(read[0].product.serialNo, "");
    EXPECT_FALSE(read[1].version.numeric);
    EXPECT_EQ(read[1].version.version, "R7");
    EXPECT_EQ(read[1].version.major, 0);
    EXPECT_EQ(read[1].md5, "0123abcd");
    EXPECT_EQ(read[1].size, 4096);
    EXPECT_EQ(read[1].runResult, 2);
}

TEST_F(StoreTest, SavePackagesLeavesOutUnidentifiedAndReportsFailure) {
    Vector<LmPackageInfo> list(0, 20);
    list.add(package(-1, "1.0"));
    ASSERT_TRUE(savePackages(list, installPath(kNewPackagesFile)));
    EXPECT_EQ(root().read(kNewPackagesFile), std::string(kDecl) + "<PackageInfoList/>\n");
    list.add(package(12, "1.0"));
    const std::string log =
        loggedBy([&] { EXPECT_FALSE(savePackages(list, installPath("missing/dir/file"))); });
    EXPECT_NE(log.find("LmUpdate: save package id: 12\n"), std::string::npos) << log;
    EXPECT_NE(log.find("LmUpdate: save package file failed: " + root().file("missing/dir/file") +
                       ": No such file or directory\n"),
              std::string::npos)
        << log;
}

// A store whose file can no longer be written reports it and says so.
TEST_F(StoreTest, FailedSaveIsLoggedAndReported) {
    ASSERT_TRUE(createPartialFilesFile());
    LmUpdateStore store;
    loaded(store, kPartialFilesFile);
    root().remove("conf");
    LmPartialFileInfo info;
    info.productID = 3;
    const std::string log = loggedBy([&] { EXPECT_FALSE(store.setPartialFile(3, info)); });
    // The cause, as for every state file, then the step.
    const std::string cause = root().file(kPartialFilesFile) + ": No such file or directory\n";
    EXPECT_NE(log.find("LmUpdate: cannot write " + cause +
                       "LmUpdate: save inventory file failed: " + cause),
              std::string::npos)
        << log;
}

TEST_F(StoreTest, WritePackageListIncludesEveryPackage) {
    StringOutputStream out;
    Vector<LmPackageInfo> list(0, 20);
    EXPECT_EQ(writePackageList(out, list), 0);
    EXPECT_EQ(out.size(), 0);
    list.add(package(-1, "1.0"));
    list.add(package(5, "1.0"));
    list[1].sha256 = String(std::string(64, 'A'));
    list[1].signature = "c2ln+/==";
    EXPECT_EQ(writePackageList(out, list), 2);
    StateDocument document;
    ASSERT_TRUE(document.parse(out.getString()));
    Vector<LmPackageInfo> read(0, 20);
    EXPECT_EQ(document.readPackageInfoList(read, true), 2);
    // The signed package keeps what a later check needs; the other gets none.
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[1].sha256, std::string(64, 'A'));
    EXPECT_EQ(read[1].signature, "c2ln+/==");
    const String written = out.getString();
    EXPECT_EQ(written.indexOf("sha256", written.indexOf("sha256") + 1), -1);
}

TEST_F(StoreTest, DelayPackagesMissingOrBroken) {
    StateDocument state;
    Vector<LmPackageInfo> read(0, 20);
    EXPECT_EQ(state.getDelayPackages(read), -1);
    root().write(kDelayPackagesFile, "<PackageInfoList><Package");
    EXPECT_EQ(state.getDelayPackages(read), 0);
    EXPECT_EQ(read.size(), 0);
    ASSERT_TRUE(createDelayPackagesFile());
    EXPECT_EQ(root().read(kDelayPackagesFile), std::string(kDecl) + "<PackageInfoList/>\n");
    EXPECT_EQ(state.getDelayPackages(read), 0);
}

TEST_F(StoreTest, LastUpdateInfo) {
    EXPECT_EQ(getLastUpdateInfo(5), "");
    root().write(kLastUpdateFile,
                 "<Conf><UpdateInfo><P ProductID=\"4\" LastUpdate=\"x\"/>"
                 "<P ProductID=\"5\" LastUpdate=\"2026-01-02\" LastSuccessUpdate=\"2026-01-01\""
                 " LastUpdateStatus=\"ok\"/><Q ProductID=\"5\" UpdateMessage=\"second\"/>"
                 "</UpdateInfo></Conf>");
    EXPECT_EQ(getLastUpdateInfo(5),
              "LastUpdate: 2026-01-02\nLastSuccessUpdate: 2026-01-01\nLastUpdateStatus: ok\n"
              "UpdateMessage: \n");
    EXPECT_EQ(getLastUpdateInfo(6), "");
    root().write(kLastUpdateFile,
                 "<UpdateInfo><P productid=\"6\" updatemessage=\"m\"/></UpdateInfo>");
    EXPECT_EQ(getLastUpdateInfo(6),
              "LastUpdate: \nLastSuccessUpdate: \nLastUpdateStatus: \nUpdateMessage: m\n");
    root().write(kLastUpdateFile, "not xml");
    EXPECT_EQ(getLastUpdateInfo(6), "");
}

}  // namespace
