#include "RegistryTw.h"

#include "TextCodec.h"

#include <cstdio>

CRegistryTw::CRegistryTw() = default;

CRegistryTw::~CRegistryTw() { Close(); }

std::string CRegistryTw::GetErrorMessage(ERR_CODE code)
{
    switch (code) {
    case ERR_NO_SUBKEY:
        return "サブキー名が指定されていません。";
    case ERR_NO_MODE:
        return "アクセスモードが指定されていません。";
    case ERR_BAD_MODE:
        return "アクセスモードが不正です。";
    case ERR_OPEN_KEY:
        return "レジストリキーを開けません。";
    case ERR_QUERY_INFO:
        return "レジストリキーの情報を取得できません。";
    }
    return std::string();
}

int CRegistryTw::Fail(ERR_CODE code)
{
    errorCode_ = code;
    ShowError(GetErrorMessage(code));
    Close();
    return 1;
}

int CRegistryTw::Open(HKEY root, const std::string& subKey, const std::string& mode)
{
    if (subKey.empty())
        return Fail(ERR_NO_SUBKEY);
    if (mode.empty())
        return Fail(ERR_NO_MODE);
    Close();

    std::uint32_t access = 0;
    switch (mode[0]) {
    case 'A':
    case 'a':
        access = KEY_ALL_ACCESS;
        break;
    case 'R':
    case 'r':
        access = KEY_READ;
        break;
    case 'W':
    case 'w':
        access = KEY_WRITE | DELETE;
        break;
    default:
        return Fail(ERR_BAD_MODE);
    }
    const std::uint32_t createRights = KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;
    if (mode.size() > 1) {
        if (mode[1] == '+')
            access |= createRights;
        else if (mode[1] == '-')
            access &= ~createRights;
        else
            return Fail(ERR_BAD_MODE);
    }

    store_ = platform::RegistryStore();
    std::uint32_t disposition = REG_OPENED_EXISTING_KEY;
    if (access & KEY_CREATE_SUB_KEY) {
        bool created = false;
        if (!store_.CreateKey(root, subKey, &created))
            return Fail(ERR_OPEN_KEY);
        if (created)
            disposition = REG_CREATED_NEW_KEY;
    } else if (!store_.KeyExists(root, subKey)) {
        return Fail(ERR_OPEN_KEY);
    }

    open_ = true;
    root_ = root;
    keyPath_ = subKey;
    access_ = access;
    disposition_ = disposition;
    if (QueryInfo() != 0)
        return Fail(ERR_QUERY_INFO);
    errorCode_ = -1;
    return 0;
}

int CRegistryTw::SetDWord(const std::string& name, std::uint32_t value)
{
    if (!open_ || !(access_ & KEY_SET_VALUE))
        return 1;
    return store_.SetDWordValue(root_, keyPath_, name, value) ? 0 : 1;
}

int CRegistryTw::SetString(const std::string& name, const std::string& text)
{
    if (!open_ || !(access_ & KEY_SET_VALUE))
        return 1;
    return store_.SetStringValue(root_, keyPath_, name, text) ? 0 : 1;
}

int CRegistryTw::QueryInfo()
{
    if (!open_)
        return 1;
    platform::RegistryKeyInfo info;
    if (!store_.QueryKeyInfo(root_, keyPath_, info))
        return 1;
    info_ = info;
    return 0;
}

void CRegistryTw::Close()
{
    if (!open_)
        return;
    open_ = false;
    root_ = static_cast<HKEY>(0);
    keyPath_.clear();
    access_ = 0;
    disposition_ = 0;
    info_ = platform::RegistryKeyInfo();
}

std::string CRegistryTw::GetRootKeyName(HKEY root)
{
    const std::string name = platform::RegistryRootName(root);
    return name.empty() ? name : "\\" + name;
}

void CRegistryTw::ShowError(const std::string& message) const
{
    if (!showError_)
        return;
    const std::string line = platform::Cp932ToUtf8("CRegistryTw : " + message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
