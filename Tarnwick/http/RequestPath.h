#pragma once
// Where one request goes: the path entry of the settings (a child node of Setting::Path)
// that serves its Host and object, the local path the object names under that entry's
// LocalPath, and whether the answer is a redirect (a Forward entry, a folder named
// without its trailing '/', a folder holding an index document) or a folder. The
// request's responses read it by reference.

#include "ConfigAccessor.h"
#include "SettingsSchema.h"
#include "core/SettingsSnapshot.h"

#include "File.h"
#include "FileSystem.h"

#include <memory>
#include <string>

class CRequestPath {
public:
    // ResolvePath. `object` is the request's decoded, normalised path; `host` the Host
    // header's value as sent ("" when there was none); `settings` the settings as the
    // request reads them (the core's current snapshot), kept by this object and its copies.
    // An entry's VirtualHost pattern serves the host when it matches the whole value, or,
    // when the pattern names no port (no ':' outside an IP literal's brackets), the value
    // without its port: "*.example.jp" serves "www.example.jp:8080", "[::1]" serves
    // "[::1]:8080". The local path's status is read here, once: Exists and IsHidden answer
    // from it, so the answers of one request (and of the copies its responses keep) agree
    // with each other and with the mapping, as of this moment. Throws
    // CServerFatalException when there is no path entry, none for the host, or none for the
    // object.
    //
    // How the local path's status is read: Look::Stat by its name; Look::Open (the request's
    // own path) by opening it for reading and reading the open file's status, so that the
    // response that reads the file takes it open (TakeOpenFile) instead of opening it
    // again. The answers are the same: a name that cannot be opened (no permission, a loop
    // of links) is looked at by name, a missing one is missing either way.
    enum class Look { Stat, Open };
    CRequestPath(const std::string& object, const std::string& host,
                 std::shared_ptr<const CSettingsSnapshot> settings, Look look = Look::Stat);
    // The same on a snapshot taken now of `settings` (an accessor on "Setting" whose tree
    // outlives this object).
    CRequestPath(const std::string& object, const std::string& host, const CConfigAccessor& settings);
    virtual ~CRequestPath() = default;
    // A copy answers as the original does, but holds no open file (HasOpenFile).
    CRequestPath(const CRequestPath&) = default;
    CRequestPath& operator=(const CRequestPath&) = default;

    int IsRedirect() const { return redirect_; }
    int IsDirectory() const { return directory_; }
    // With IsRedirect: the Location value, a URL (RFC 9110 10.2.2) whose parts from the
    // object, the prefix or the index document's name are written by EscapeUrlUtf8, plain
    // ASCII that the server decodes back to them: an absolute path, the entry's Forward
    // value (as stored) with the rest of the object, or the bare name of an index document.
    const std::string& GetRedirectLocation() const { return redirectLocation_; }
    // The local file or folder (a folder's ends in '/'); "" for a Forward entry and for
    // an object whose mapping would leave the entry's folder. Code that creates or
    // removes files must refuse "".
    const std::string& GetLocalPath() const { return localPath_; }
    const std::string& GetTargetHost() const { return targetHost_; }
    // The chosen entry as the snapshot holds it, and the snapshot; valid as long as this
    // object or a copy of it.
    const CSettingsSnapshot::PathEntry& Entry() const { return *entry_; }
    const CSettingsSnapshot& Settings() const { return *settings_; }
    const std::shared_ptr<const CSettingsSnapshot>& GetSettingsSnapshot() const { return settings_; }
    // The chosen entry's node in the settings tree, and its Options node.
    CConfigAccessor GetEntry() const;
    CConfigAccessor GetOptions() const { return GetEntry().GetSubAccessor(schema::kOptions); }

    // 1 for a redirect, or when a file or folder existed at the local path when it was
    // resolved; else 0. An object whose mapping would leave the entry's folder never
    // exists, so it is answered as not found.
    int Exists() const;
    // 1 when Exists and NamesHidden; else 0.
    int IsHidden() const;
    // 1 when the local path, or any folder on the way to it below the entry's LocalPath,
    // has a name starting with '.', whether or not anything is there; else 0.
    int NamesHidden() const;
    // 1 when the object holds a byte below 0x20 or 0x7F: such a path must not reach a
    // header or a log line, and the request is refused as bad.
    int HoldsControlByte() const;
    // 1 when the local path is the folder of a path entry (its LocalPath), the chosen
    // entry's or any other's whatever its host, or a folder on the way to one: removing,
    // moving or replacing it would leave that entry serving nothing. Another entry's
    // folder counts however it is spelled or linked; a symbolic link named by the path is
    // removed as itself and counts only when an entry's LocalPath is spelled through it.
    // Reads the file system.
    int HoldsEntryFolder() const;

    // Whether Look::Open left a regular file open at the local path, not taken yet.
    bool HasOpenFile() const { return open_.file.IsOpen(); }
    // Hands the open file over, once, with its status as read when it was opened: the one
    // response that reads the file owns it from then on.
    platform::CFile TakeOpenFile(platform::FileStatus& status) const;

private:
    void ResolvePath();
    // Steps of ResolvePath.
    void MapLocalPath(std::string_view serverPath);
    void FindIndexDocument();
    // Sets localType_ for a local path ending in '/' that is not known to be a folder yet.
    void ReadFolderType();
    // The local path's status, as `look_` says: false when nothing is there.
    bool ReadStatus(platform::FileStatus& status);

    std::shared_ptr<const CSettingsSnapshot> settings_;
    const CSettingsSnapshot::PathEntry* entry_ = nullptr;  // in *settings_
    std::string object_;
    std::string localPath_;
    std::string relativePath_;  // the part of localPath_ below the entry's LocalPath
    std::string redirectLocation_;
    std::string targetHost_;
    int redirect_ = 0;
    int directory_ = 0;
    // The local path's type as GetPathType reads it (2 folder, 1 regular file, 0 missing
    // or anything else); 0 for an empty local path, and for the prefix named without its
    // '/', whose redirect needs no look at the folder.
    int localType_ = 0;
    Look look_ = Look::Stat;
    // The file Look::Open left open, held for the response that takes it; not part of the
    // path's answers, so a copy of the path starts without one.
    struct OpenFile {
        OpenFile() = default;
        OpenFile(const OpenFile&) {}
        OpenFile& operator=(const OpenFile&) { return *this; }
        platform::CFile file;
        platform::FileStatus status;
    };
    mutable OpenFile open_;
};
