#pragma once
// One open key of the registry store (platform/RegistryStore.h): opened or created under a
// predefined root with an access mode given as a short text, with the key's size
// information, value writes and close. Failures give the result 1; with the error display
// switch set, a failed Open also writes its reason to standard error, the server's stand-in
// for a message box.

#include "RegistryStore.h"

#include <cstdint>
#include <string>

// The roots, under the names the callers use.
using HKEY = platform::RegistryRoot;
using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_CURRENT_CONFIG;
using platform::HKEY_CURRENT_USER;
using platform::HKEY_LOCAL_MACHINE;
using platform::HKEY_USERS;

class CRegistryTw {
public:
    // Why Open failed; GetErrorMessage gives the text.
    enum ERR_CODE {
        ERR_NO_SUBKEY = 0,
        ERR_NO_MODE = 1,
        ERR_BAD_MODE = 2,
        ERR_OPEN_KEY = 3,
        ERR_QUERY_INFO = 4,
    };

    // Access rights, as masks in the mode text's terms.
    static constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
    static constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
    static constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x0004;
    static constexpr std::uint32_t KEY_CREATE_LINK = 0x0020;
    static constexpr std::uint32_t DELETE = 0x10000;
    static constexpr std::uint32_t KEY_READ = 0x20019;
    static constexpr std::uint32_t KEY_WRITE = 0x20006;
    static constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

    // How the open key came to be.
    static constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
    static constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

    CRegistryTw();
    virtual ~CRegistryTw();
    CRegistryTw(const CRegistryTw&) = delete;
    CRegistryTw& operator=(const CRegistryTw&) = delete;

    // Opens `subKey` under `root` in the store that the environment names at this moment
    // (RegistryStore::DefaultFolder), closing a key still open first. The mode's first
    // character, in either case: 'A' all access, 'R' read, 'W' write; an optional second
    // character '+' adds, '-' removes the create rights. With the create-subkey right a
    // missing key is created ("A", "W", "R+", "W+"), else it must exist ("R", "A-", "W-").
    // 0 on success with the key information read; 1 on failure, with GetErrorCode() the
    // reason and the object closed. Never throws.
    int Open(HKEY root, const std::string& subKey, const std::string& mode);

    // Write a value of the open key; `name` "" is the default value. 1 when no key is open,
    // the key was opened without the set-value right, or the store fails.
    int SetDWord(const std::string& name, std::uint32_t value);
    int SetString(const std::string& name, const std::string& text);

    // Reads the key information anew; 1 (keeping the old information) when no key is open
    // or the store fails.
    int QueryInfo();

    // Back to the closed state; nothing when no key is open.
    void Close();

    // "\HKEY_CLASSES_ROOT" and so on for the five roots, "" for any other value.
    static std::string GetRootKeyName(HKEY root);

    // With the error display switch set, writes "CRegistryTw : " and the message to standard
    // error (as UTF-8, ending the line); otherwise nothing.
    void ShowError(const std::string& message) const;

    static std::string GetErrorMessage(ERR_CODE code);

    void SetErrorDisplay(int on) { showError_ = on; }
    int GetErrorDisplay() const { return showError_; }

    bool IsOpen() const { return open_; }
    // The code of the last failed Open, -1 when the last Open succeeded or none was made.
    int GetErrorCode() const { return errorCode_; }
    // Of the open key; 0 when closed.
    HKEY GetRoot() const { return root_; }
    std::uint32_t GetAccess() const { return access_; }
    std::uint32_t GetDisposition() const { return disposition_; }
    std::uint32_t GetSubKeyCount() const { return info_.subKeys; }
    std::uint32_t GetMaxSubKeyLength() const { return info_.maxSubKeyNameLength; }
    std::uint32_t GetValueCount() const { return info_.values; }
    std::uint32_t GetMaxValueNameLength() const { return info_.maxValueNameLength; }
    std::uint32_t GetMaxValueLength() const { return info_.maxValueDataLength; }

private:
    int Fail(ERR_CODE code);

    platform::RegistryStore store_;
    bool open_ = false;
    HKEY root_ = static_cast<HKEY>(0);
    std::string keyPath_;
    std::uint32_t access_ = 0;
    std::uint32_t disposition_ = 0;
    platform::RegistryKeyInfo info_;
    int showError_ = 0;
    int errorCode_ = -1;
};
