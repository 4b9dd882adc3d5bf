#include "RegistryStore.h"

#include "CRuntime.h"
#include "FileIo.h"
#include "TextCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace platform {

namespace {

// Store files start with '.', which an escaped key name never does, so no key can take
// their names.
constexpr const char* kLockFileName = ".lock";
constexpr const char* kValuesFileName = ".values";
constexpr const char* kTrashPrefix = ".trash-";

// Value lines: type, name and data separated by tabs; both texts escaped.
constexpr const char* kStringTag = "sz";
constexpr const char* kDWordTag = "dword";

// getpwuid_r's buffer when the system gives no hint: far beyond any passwd entry.
constexpr long kPasswdBufferSize = 16384;


void AppendEscapedByte(std::string& out, unsigned char c)
{
    static const char hex[] = "0123456789ABCDEF";
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 0x0F];
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// CP932 text to the store's spelling: mappable characters as UTF-8, so that the store
// stays readable; as %XX every byte that would break the layout (controls, '%', and in
// file names '/' and a leading '.') and every character that does not come back whole
// from Unicode (unmappable bytes, the second spellings of duplicated characters).
std::string Escape(const std::string& text, bool fileName)
{
    std::string out;
    for (std::string::size_type i = 0; i < text.size();) {
        const std::string::size_type n = CharLength(text, i);
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (n == 1 && c < 0x80) {
            const bool unsafe = c < 0x20 || c == 0x7F || c == '%' ||
                                (fileName && (c == '/' || (i == 0 && c == '.')));
            if (unsafe)
                AppendEscapedByte(out, c);
            else
                out += static_cast<char>(c);
        } else {
            const std::string character = text.substr(i, n);
            const std::string utf8 = Cp932ToUtf8(character);
            if (Utf8ToCp932(utf8) == character) {
                out += utf8;
            } else {
                for (char b : character)
                    AppendEscapedByte(out, static_cast<unsigned char>(b));
            }
        }
        i += n;
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out, run;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += Utf8ToCp932(run);
            run.clear();
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            run += text[i];
        }
    }
    return out + Utf8ToCp932(run);
}

bool SplitKeyPath(const std::string& path, std::vector<std::string>& names)
{
    names.clear();
    if (path.empty())
        return true;
    std::string current;
    for (std::string::size_type i = 0; i < path.size();) {
        const std::string::size_type n = CharLength(path, i);
        if (n == 1 && path[i] == '\\') {
            names.push_back(current);
            current.clear();
        } else {
            current.append(path, i, n);
        }
        i += n;
    }
    names.push_back(current);
    if (names.size() > 1 && names.back().empty())
        names.pop_back();  // "Key\" names the key
    for (const std::string& name : names) {
        if (name.empty()) {
            errno = EINVAL;
            return false;
        }
    }
    return true;
}

bool IsFolder(const std::string& native)
{
    struct stat st;
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StoreNative(const std::string& folder)
{
    std::string native = NativePath(folder);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    return native;
}

// Makes the folder and any missing folder above it, private to the user.
bool MakeFolders(const std::string& native)
{
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    if (IsFolder(native))
        return true;
    for (std::string::size_type slash = native.find('/', 1);; slash = native.find('/', slash + 1)) {
        const std::string level = native.substr(0, slash);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    if (!IsFolder(native)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// Holds the store's lock file for one operation. A writer that cannot lock fails; a reader
// that cannot open the lock file (a store it may not write) reads unlocked, which is still
// sound for a single values file, since writers replace files by renaming.
class StoreLock {
public:
    StoreLock(const std::string& storeNative, bool exclusive)
    {
        if (storeNative.empty()) {
            held_ = !exclusive;
            errno = ENOENT;
            return;
        }
        const std::string path = storeNative + "/" + kLockFileName;
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0 && !exclusive)
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            held_ = !exclusive;
            return;
        }
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                const int err = errno;
                ::close(fd_);
                fd_ = -1;
                errno = err;
                held_ = !exclusive;
                return;
            }
        }
        held_ = true;
    }
    ~StoreLock()
    {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool Held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

struct ChildFolder {
    std::string name;    // CP932, as stored
    std::string native;  // the folder's name on disk
};

// Key folders directly in `dirNative`. False with errno when the folder cannot be read.
bool ListChildFolders(const std::string& dirNative, std::vector<ChildFolder>& children)
{
    children.clear();
    DIR* dir = ::opendir(dirNative.c_str());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string native = entry->d_name;
        if (entry->d_type != DT_DIR && !(entry->d_type == DT_UNKNOWN && IsFolder(dirNative + "/" + native)))
            continue;
        children.push_back({Unescape(native), native});
    }
    ::closedir(dir);
    return true;
}

// The folder of key `name` in `dirNative`, matched without regard to ASCII case; "" when
// there is none.
std::string FindChildFolder(const std::string& dirNative, const std::string& name)
{
    const std::string exact = Escape(name, true);
    if (IsFolder(dirNative + "/" + exact))
        return exact;
    std::vector<ChildFolder> children;
    if (!ListChildFolders(dirNative, children))
        return std::string();
    for (const ChildFolder& child : children) {
        if (_mbsicmp(child.name, name) == 0)
            return child.native;
    }
    return std::string();
}

// The key's folder. With `create`, missing keys on the way are made and `created` says
// whether the last one was new.
bool ResolveKey(const std::string& storeNative, RegistryRoot root, const std::string& keyPath, bool create,
                std::string& folder, bool* created = nullptr)
{
    const std::string rootName = RegistryRootName(root);
    if (rootName.empty()) {
        errno = EINVAL;
        return false;
    }
    std::vector<std::string> names;
    if (!SplitKeyPath(keyPath, names))
        return false;
    if (storeNative.empty()) {
        errno = ENOENT;  // no store location is known, so no key exists
        return false;
    }
    folder = storeNative + "/" + rootName;
    bool isNew = false;
    if (!IsFolder(folder)) {
        if (!create) {
            errno = ENOENT;
            return false;
        }
        if (::mkdir(folder.c_str(), 0777) != 0)
            return false;
        isNew = true;
    }
    for (const std::string& name : names) {
        std::string child = isNew ? std::string() : FindChildFolder(folder, name);
        if (child.empty()) {
            if (!create) {
                errno = ENOENT;
                return false;
            }
            child = Escape(name, true);
            if (::mkdir((folder + "/" + child).c_str(), 0777) != 0)
                return false;
            isNew = true;
        }
        folder += "/" + child;
    }
    if (created)
        *created = isNew;
    return true;
}

bool ParseDWord(const std::string& text, std::uint32_t& number)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return false;
    number = static_cast<std::uint32_t>(value);
    return true;
}

std::vector<RegistryValue>::iterator FindValue(std::vector<RegistryValue>& values, const std::string& name)
{
    return std::find_if(values.begin(), values.end(),
                        [&](const RegistryValue& v) { return _mbsicmp(v.name, name) == 0; });
}

// A line that does not parse (a hand edit) is skipped rather than making the key unusable.
void ParseValues(const std::string& contents, std::vector<RegistryValue>& values)
{
    std::string::size_type start = 0;
    while (start < contents.size()) {
        std::string::size_type end = contents.find('\n', start);
        if (end == std::string::npos)
            end = contents.size();
        const std::string line = contents.substr(start, end - start);
        start = end + 1;

        const std::string::size_type tab1 = line.find('\t');
        const std::string::size_type tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos || line.find('\t', tab2 + 1) != std::string::npos)
            continue;
        const std::string tag = line.substr(0, tab1);
        RegistryValue value;
        value.name = Unescape(line.substr(tab1 + 1, tab2 - tab1 - 1));
        const std::string data = line.substr(tab2 + 1);
        if (tag == kStringTag) {
            value.type = RegistryValueType::String;
            value.text = Unescape(data);
        } else if (tag == kDWordTag) {
            value.type = RegistryValueType::DWord;
            if (!ParseDWord(data, value.number))
                continue;
        } else {
            continue;
        }
        if (FindValue(values, value.name) == values.end())
            values.push_back(std::move(value));
    }
}

std::string FormatValues(const std::vector<RegistryValue>& values)
{
    std::string out;
    for (const RegistryValue& value : values) {
        const bool isString = value.type == RegistryValueType::String;
        out += isString ? kStringTag : kDWordTag;
        out += '\t';
        out += Escape(value.name, false);
        out += '\t';
        out += isString ? Escape(value.text, false) : std::to_string(value.number);
        out += '\n';
    }
    return out;
}

// The key's values; a key without a values file has none.
bool ReadValues(const std::string& keyFolder, std::vector<RegistryValue>& values)
{
    values.clear();
    std::string contents;
    if (!ReadNativeFile(keyFolder + "/" + kValuesFileName, contents))
        return errno == ENOENT;
    ParseValues(contents, values);
    return true;
}

// Replaced whole, so no reader and no crash sees half of it.
bool WriteValues(const std::string& keyFolder, const std::vector<RegistryValue>& values)
{
    return WriteNativeFileAtomically(keyFolder + "/" + kValuesFileName, FormatValues(values));
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = kPasswdBufferSize;
    std::vector<char> buffer(static_cast<size_t>(size));
    passwd entry;
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir && *result->pw_dir)
        return result->pw_dir;
    return std::string();
}

}  // namespace

std::string RegistryRootName(RegistryRoot root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT:
        return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER:
        return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
        return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
        return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG:
        return "HKEY_CURRENT_CONFIG";
    }
    return std::string();
}

RegistryStore::RegistryStore() : folder_(DefaultFolder()) {}

RegistryStore::RegistryStore(std::string folder) : folder_(std::move(folder)) {}

std::string RegistryStore::DefaultFolder()
{
    const char* store = std::getenv("TARNWICK_REGISTRY");
    if (store && *store)
        return Utf8ToCp932(store);
    // The XDG base-directory rules ignore a relative XDG_CONFIG_HOME.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return Utf8ToCp932(config) + "/tarnwick/registry";
    const std::string home = HomeFolder();
    if (home.empty())
        return std::string();
    return Utf8ToCp932(home) + "/.config/tarnwick/registry";
}

std::string RegistryStore::ErrorText(RegistryRoot root, const std::string& keyPath, int error) const
{
    if (folder_.empty())
        return "no registry store is known: TARNWICK_REGISTRY, XDG_CONFIG_HOME and the home folder are all unset";
    std::string key = RegistryRootName(root);
    if (!keyPath.empty())
        key += "\\" + keyPath;
    return "registry store " + folder_ + ", key " + key + ": " + std::strerror(error);
}

bool RegistryStore::CreateKey(RegistryRoot root, const std::string& keyPath, bool* created)
{
    const std::string store = StoreNative(folder_);
    if (folder_.empty() || !MakeFolders(store)) {
        if (folder_.empty())
            errno = ENOENT;
        return false;
    }
    StoreLock lock(store, true);
    if (!lock.Held())
        return false;
    std::string folder;
    return ResolveKey(store, root, keyPath, true, folder, created);
}

bool RegistryStore::KeyExists(RegistryRoot root, const std::string& keyPath) const
{
    const std::string store = StoreNative(folder_);
    StoreLock lock(store, false);
    std::string folder;
    return ResolveKey(store, root, keyPath, false, folder);
}

bool RegistryStore::DeleteKeyTree(RegistryRoot root, const std::string& keyPath, bool* existed)
{
    if (existed)
        *existed = false;
    std::vector<std::string> names;
    if (RegistryRootName(root).empty() || !SplitKeyPath(keyPath, names) || names.empty()) {
        errno = EINVAL;
        return false;
    }
    const std::string store = StoreNative(folder_);
    if (folder_.empty() || !IsFolder(store))
        return true;
    StoreLock lock(store, true);
    if (!lock.Held())
        return false;
    std::string folder;
    if (!ResolveKey(store, root, keyPath, false, folder))
        return errno == ENOENT;
    // One rename takes the whole tree out of every reader's sight; clearing it up after
    // may fail half-way without harm, since the store ignores its hidden names.
    const std::string trash = store + "/" + kTrashPrefix + UniqueTempSuffix();
    if (::rename(folder.c_str(), trash.c_str()) != 0)
        return false;
    if (existed)
        *existed = true;
    std::error_code ignored;
    std::filesystem::remove_all(trash, ignored);
    return true;
}

bool RegistryStore::EnumSubKeys(RegistryRoot root, const std::string& keyPath,
                                std::vector<std::string>& names) const
{
    const std::string store = StoreNative(folder_);
    StoreLock lock(store, false);
    std::string folder;
    std::vector<ChildFolder> children;
    if (!ResolveKey(store, root, keyPath, false, folder) || !ListChildFolders(folder, children))
        return false;
    names.clear();
    for (const ChildFolder& child : children)
        names.push_back(child.name);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int folded = _mbsicmp(a, b);
        return folded != 0 ? folded < 0 : _mbscmp(a, b) < 0;
    });
    return true;
}

bool RegistryStore::EnumValues(RegistryRoot root, const std::string& keyPath,
                               std::vector<RegistryValue>& values) const
{
    const std::string store = StoreNative(folder_);
    StoreLock lock(store, false);
    std::string folder;
    std::vector<RegistryValue> read;
    if (!ResolveKey(store, root, keyPath, false, folder) || !ReadValues(folder, read))
        return false;
    values = std::move(read);
    return true;
}

bool RegistryStore::QueryKeyInfo(RegistryRoot root, const std::string& keyPath, RegistryKeyInfo& info) const
{
    const std::string store = StoreNative(folder_);
    StoreLock lock(store, false);
    std::string folder;
    std::vector<ChildFolder> children;
    std::vector<RegistryValue> values;
    if (!ResolveKey(store, root, keyPath, false, folder) || !ListChildFolders(folder, children) ||
        !ReadValues(folder, values))
        return false;
    RegistryKeyInfo result;
    result.subKeys = static_cast<std::uint32_t>(children.size());
    for (const ChildFolder& child : children)
        result.maxSubKeyNameLength = std::max(result.maxSubKeyNameLength, static_cast<std::uint32_t>(child.name.size()));
    result.values = static_cast<std::uint32_t>(values.size());
    for (const RegistryValue& value : values) {
        result.maxValueNameLength = std::max(result.maxValueNameLength, static_cast<std::uint32_t>(value.name.size()));
        const std::uint32_t dataLength = value.type == RegistryValueType::String
                                             ? static_cast<std::uint32_t>(value.text.size() + 1)
                                             : static_cast<std::uint32_t>(sizeof(std::uint32_t));
        result.maxValueDataLength = std::max(result.maxValueDataLength, dataLength);
    }
    info = result;
    return true;
}

bool RegistryStore::SetValue(RegistryRoot root, const std::string& keyPath, const RegistryValue& value)
{
    const std::string store = StoreNative(folder_);
    if (folder_.empty() || !IsFolder(store)) {
        errno = ENOENT;  // no store, so no key
        return false;
    }
    StoreLock lock(store, true);
    if (!lock.Held())
        return false;
    std::string folder;
    std::vector<RegistryValue> values;
    if (!ResolveKey(store, root, keyPath, false, folder) || !ReadValues(folder, values))
        return false;
    const auto found = FindValue(values, value.name);
    if (found == values.end()) {
        values.push_back(value);
    } else {
        const std::string spelling = found->name;
        *found = value;
        found->name = spelling;
    }
    return WriteValues(folder, values);
}

bool RegistryStore::SetStringValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                                   const std::string& text)
{
    RegistryValue value;
    value.name = valueName;
    value.type = RegistryValueType::String;
    value.text = text;
    return SetValue(root, keyPath, value);
}

bool RegistryStore::SetDWordValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                                  std::uint32_t number)
{
    RegistryValue value;
    value.name = valueName;
    value.type = RegistryValueType::DWord;
    value.number = number;
    return SetValue(root, keyPath, value);
}

bool RegistryStore::ReadValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                              RegistryValue& value) const
{
    std::vector<RegistryValue> values;
    if (!EnumValues(root, keyPath, values))
        return false;
    const auto found = FindValue(values, valueName);
    if (found == values.end()) {
        errno = ENOENT;
        return false;
    }
    value = *found;
    return true;
}

bool RegistryStore::ReadStringValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                                    std::string& text) const
{
    RegistryValue value;
    if (!ReadValue(root, keyPath, valueName, value))
        return false;
    if (value.type != RegistryValueType::String) {
        errno = EINVAL;
        return false;
    }
    text = value.text;
    return true;
}

bool RegistryStore::ReadDWordValue(RegistryRoot root, const std::string& keyPath, const std::string& valueName,
                                   std::uint32_t& number) const
{
    RegistryValue value;
    if (!ReadValue(root, keyPath, valueName, value))
        return false;
    if (value.type != RegistryValueType::DWord) {
        errno = EINVAL;
        return false;
    }
    number = value.number;
    return true;
}

}  // namespace platform
