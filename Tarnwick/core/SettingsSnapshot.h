#pragma once
// The settings a request reads, taken from the settings tree in one step and held typed:
// the path entries with their switches, host lists and users, the index names, the SSI
// extensions, the accounts, and the few "Setting::" values read per request. A request
// reads them here instead of walking the tree by string path, key by key, under its lock.
//
// A snapshot describes the tree as it stood at one write count (CConfigClass::
// GetWriteCount); its owner takes a new one when the count has moved. It is immutable and
// shared by the requests of every thread.
//
// A value is read as the tree would give it at the moment of reading: a stored text
// without '%' (most values) is kept as the result, since the server's value filter leaves
// such a text alone; one with '%' (a placeholder such as %ServerRoot% or %Year%) passes
// the tree's filter again at each read, as a read of the tree would. Lists (Users, Kick,
// SSI) and accounts are kept as stored, unfiltered, as the readers of the tree took them.
// Taking a snapshot creates no missing node in the tree.

#include "ConfigAccessor.h"
#include "SettingsSchema.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CSettingsSnapshot {
public:
    // A text setting: its stored value (or default), and whether reads filter it.
    class Text {
    public:
        // The value as a read of the tree gives it now; `scratch` holds it when it had to
        // be filtered, so the view lives as long as `scratch` and the snapshot.
        std::string_view Read(std::string& scratch) const;
        std::string ReadCopy() const;

    private:
        friend class CSettingsSnapshot;
        CConfigClass* tree_ = nullptr;
        std::string key_;
        std::string stored_;
        bool filtered_ = false;
    };

    // A number or a switch, read as CConfigAccessor::GetInt reads it.
    class Number {
    public:
        int Read() const;

    private:
        friend class CSettingsSnapshot;
        CConfigClass* tree_ = nullptr;
        std::string key_;
        std::string stored_;  // only when filtered_
        bool filtered_ = false;
        int value_ = 0;
    };

    // One child of Setting::Path, as a request reads it.
    struct PathEntry {
        std::string name;  // the child's name; children of the same name all read the first
        Text virtualHost;
        Text serverPath;
        Text localPath;
        Text forward;
        Text info;
        std::vector<std::string> users;       // Users, as stored
        std::vector<std::string> kickAccept;  // Kick::Accept, as stored
        std::vector<std::string> kickDenied;  // Kick::Denied, as stored
        // The switches of its Options node.
        Number enableIndex;
        Number enableHiddenFile;
        Number enableWrite;
        Number enableWebDav;
        Number enableSsiCgi;
        Number enableAuthenticate;
        Number enableBandWidthLimit;
        Number enableHostKick;
        Number acceptHttp;
        Number acceptHttps;
    };

    // An account of Setting::User::Enable, as stored.
    struct Account {
        std::string user;
        std::string password;
    };

    // Takes the settings under `settings` (an accessor on "Setting") in one shared hold of
    // the tree's lock. The tree must outlive the snapshot.
    explicit CSettingsSnapshot(const CConfigAccessor& settings);
    CSettingsSnapshot(const CSettingsSnapshot&) = delete;
    CSettingsSnapshot& operator=(const CSettingsSnapshot&) = delete;

    // The tree's write count when the snapshot was taken: it describes the tree while the
    // count stays.
    uint64_t GetWriteCount() const { return writeCount_; }
    const CConfigAccessor& GetSettings() const { return settings_; }

    // In stored order.
    const std::vector<PathEntry>& PathEntries() const { return paths_; }
    // The values of Setting::Index in the order of its keys (the first leaf of each key).
    const std::vector<Text>& IndexNames() const { return indexNames_; }
    // The values of Setting::SSI, as stored.
    const std::vector<std::string>& SsiExtensions() const { return ssi_; }
    const std::vector<Account>& Accounts() const { return accounts_; }
    const Text& LogFormat() const { return logFormat_; }
    const Text& HtmlFileDirectory() const { return htmlFileDirectory_; }

private:
    // Reads the setting `key` of the node `node` (leaves as stored) with the schema's
    // default.
    void Load(Text& text, const std::vector<CConfigLeaf>& node, std::string_view key,
              std::string_view defaultValue) const;
    void Load(Number& number, const std::vector<CConfigLeaf>& node, std::string_view key, int defaultValue) const;
    PathEntry LoadEntry(const std::string& name) const;

    CConfigAccessor settings_;
    CConfigClass* tree_;
    uint64_t writeCount_ = 0;
    std::vector<PathEntry> paths_;
    std::vector<Text> indexNames_;
    std::vector<std::string> ssi_;
    std::vector<Account> accounts_;
    Text logFormat_;
    Text htmlFileDirectory_;
};
