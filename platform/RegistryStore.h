#pragma once
// A file-backed store in place of the system registry: the registration of the control
// class, the event-log source and the controller's profile live here.
//
// Layout: the store is a folder; under it a folder per root ("HKEY_CLASSES_ROOT"), and
// under that a folder per key. A key's values are one file in its folder, replaced whole
// by a temporary file and a rename, so a reader sees the old or the new values, never a
// half. Every operation holds a lock on the store's lock file (flock: shared to read,
// exclusive to write) for its duration, which orders other processes and other threads
// of this one alike; a reader that may not write the store reads without it.
//
// Names: a key path is a list of key names separated by backslashes, CP932 texts (0x5C
// as a trail byte is no separator). Key names and value names are compared without regard
// to ASCII case and kept as first written. A trailing backslash is allowed; an empty name
// elsewhere (a leading or doubled backslash) makes the path invalid. The empty path is the
// root key itself. Any byte may appear in a name: names are escaped into file names, so
// no name reaches outside its key's folder.
//
// Nothing here throws. A failure returns false and leaves errno at the reason: ENOENT for
// a missing key or value, EINVAL for an invalid root or path or a value of the other type,
// else the file system's reason.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The predefined roots. Other values of the type name no root; every operation on them
// fails with EINVAL.
enum RegistryRoot : int {
    HKEY_CLASSES_ROOT = 1,
    HKEY_CURRENT_USER = 2,
    HKEY_LOCAL_MACHINE = 3,
    HKEY_USERS = 4,
    HKEY_CURRENT_CONFIG = 5,
};

// The root's name ("HKEY_CLASSES_ROOT"), "" for a value that names no root.
std::string RegistryRootName(RegistryRoot root);

enum class RegistryValueType { String, DWord };

struct RegistryValue {
    std::string name;  // "" is the key's default value
    RegistryValueType type = RegistryValueType::String;
    std::string text;          // String values
    std::uint32_t number = 0;  // DWord values
};

// Sizes in bytes of CP932 text, without a terminating zero, except the data size: a string
// counts its length plus the terminating zero, a DWORD 4.
struct RegistryKeyInfo {
    std::uint32_t subKeys = 0;
    std::uint32_t maxSubKeyNameLength = 0;
    std::uint32_t values = 0;
    std::uint32_t maxValueNameLength = 0;
    std::uint32_t maxValueDataLength = 0;
};

class RegistryStore {
public:
    // The store at DefaultFolder(), looked up now.
    RegistryStore();
    // The store in `folder` (a CP932 path). Nothing is created until the first write.
    explicit RegistryStore(std::string folder);

    // TARNWICK_REGISTRY when set and not empty; else $XDG_CONFIG_HOME/tarnwick/registry when
    // XDG_CONFIG_HOME is an absolute path; else <home>/.config/tarnwick/registry, the home
    // folder from HOME or, without it, from the user database. "" when none is known.
    static std::string DefaultFolder();

    const std::string& Folder() const { return folder_; }

    // The words for an operation on a key of this store that failed with `error` (the errno
    // it left): the store folder, the key and the system's reason, CP932. For a store
    // without a folder, that none is known.
    std::string ErrorText(RegistryRoot root, const std::string& keyPath, int error) const;

    // Creates the key and any missing key above it; an existing key is opened. `created`,
    // when given, says whether the key itself was new. The store folder is made (mode
    // 0700: the store names programs that clients start) when missing.
    bool CreateKey(RegistryRoot root, const std::string& keyPath, bool* created = nullptr);

    bool KeyExists(RegistryRoot root, const std::string& keyPath) const;

    // Removes the key with every key and value below it, at once for any reader. True when
    // the key is absent afterwards, also when it never existed (`existed` tells). A root
    // itself cannot be removed (EINVAL).
    bool DeleteKeyTree(RegistryRoot root, const std::string& keyPath, bool* existed = nullptr);

    // The names of the key's subkeys as stored, sorted without regard to ASCII case.
    bool EnumSubKeys(RegistryRoot root, const std::string& keyPath, std::vector<std::string>& names) const;

    // The key's values in the order they were first written.
    bool EnumValues(RegistryRoot root, const std::string& keyPath, std::vector<RegistryValue>& values) const;

    bool QueryKeyInfo(RegistryRoot root, const std::string& keyPath, RegistryKeyInfo& info) const;

    // Write a value into an existing key (ENOENT when the key is missing). A value of the
    // same name is replaced, whatever its type, and keeps its place and its spelling.
    bool SetStringValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                        const std::string& text);
    bool SetDWordValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                       std::uint32_t number);

    // Read one value; `valueName` "" is the default value. The typed reads fail with EINVAL
    // for a value of the other type. Outputs are untouched on failure.
    bool ReadValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                   RegistryValue& value) const;
    bool ReadStringValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                         std::string& text) const;
    bool ReadDWordValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                        std::uint32_t& number) const;

private:
    bool SetValue(RegistryRoot root, const std::string& keyPath, const RegistryValue& value);

    std::string folder_;  // CP932
};

}  // namespace platform
