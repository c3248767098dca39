#pragma once

#include "CertLocation.h"
#include "NetworkSettings.h"
#include "StateDocument.h"
#include "String.h"

class XMLTree;

// The network settings file (conf/network.xml): parses it into a document,
// copies the settings out of it, writes them back and saves the file. The
// caller serialises access between processes (tmp/network.lock).
class LmNetConfig {
public:
    // The settings file below the installation root.
    static constexpr char kSettingsFile[] = "conf/network.xml";

    LmNetConfig() = default;
    LmNetConfig(const LmNetConfig&) = delete;
    LmNetConfig& operator=(const LmNetConfig&) = delete;
    virtual ~LmNetConfig() = default;

    static LmNetConfig& getInstance();

    // Non-zero when the file parsed; 0 for a null or empty path (nothing
    // changes). A file that cannot be opened raises IOException (path,
    // ": ", the system's error text).
    int load(const char* path);
    bool isLoaded() const;
    // Writes the document to the loaded path and reads it back: 1, or 0
    // after printing "LmUpdate: store network settings failed: " + reason.
    int save();
    // Whether the last save (by storeSettings, setServerVerify or save)
    // wrote the file.
    bool lastSaveSucceeded() const { return lastSaveSucceeded_; }

    // The number of active servers, or -1 when nothing is loaded or the
    // document has no ServerList (the other fields of out are then kept).
    int getSettings(NetworkSettings& out);
    // 1 when the document was updated and a save attempted; 0 when the
    // record has no servers or there is no ServerList.
    int storeSettings(const NetworkSettings& settings);
    // 1 when a non-empty certificate parameter was found, whether or not
    // its file exists (out.file: the path as stored).
    int getServerVerify(CertLocation& out);
    // 1 when the parameter (an existing file) was written and a save
    // attempted.
    int setServerVerify(const CertLocation& location);
    // The certificate check to apply to update servers: ssl.verify (none,
    // ignoring case; any other value is kInvalid) before ssl.server.cert
    // (kPath), else kSystem.
    CertLocation getVerification();
    // Stores mode (kSystem, kNone, or kPath with file as the path, taken as
    // given) in place of the stored one; 1 when written and a save
    // attempted, 0 when nothing is loaded or the mode cannot be stored.
    int setVerification(const CertLocation& location);
    // setVerification without the save: false when nothing is loaded or the
    // mode cannot be stored. For a change saved with others in one write.
    bool changeVerification(const CertLocation& location);
    // The daily byte budget in MiB: 0 when none is stored, -1 when the stored
    // Budget element's mibPerDay is not a valid value (parseBudget).
    int getBudget();
    // Stores mibPerDay (kMinBudgetMiB to kMaxBudgetMiB) as
    // <Budget mibPerDay="N"/> under the root, or removes the element for 0;
    // 1 when written and a save attempted, 0 when nothing is loaded or the
    // value is out of range (nothing changes).
    int setBudget(int mibPerDay);
    // setBudget without the save: false when nothing changes.
    bool changeBudget(int mibPerDay);

    // Replaces the file at path with the document text of tree as a whole:
    // a document that would not read back, or a failed write, leaves the
    // old file as it was. Raises IOException (path, ": ", the reason).
    static void writeDocument(const String& path, const XMLTree& tree);

    const String& getPath() const { return path_; }
    const XMLTree& getTree() const { return parser_.getTree(); }

private:
    bool hasNode(const char* path) const;
    void readServerListAttributes(NetworkSettings& out) const;
    void writeServerListAttributes(const NetworkSettings& settings);
    void replaceServers(const Vector<LmServer>& servers);
    void removeChildren(const char* path);
    void removeVerifyParameters();
    void addVerifyParameter(const char* name, const String& value);

    String path_;
    StateDocument parser_;
    bool lastSaveSucceeded_ = false;
};
