#include "app/ServerControl.h"

#include "app/ServerApp.h"

#include "ModulePath.h"
#include "TextCodec.h"

namespace {

// Short results are the integer values cut to 16 bits, as the interface defines them.
short Short(int value) { return static_cast<short>(value); }

}  // namespace

long CServerControl::StartServer(short* status)
{
    *status = Short(app_->StartServer());
    return platform::kOk;
}

long CServerControl::StopServer()
{
    app_->StopServer();
    return platform::kOk;
}

long CServerControl::GetServerErrorString(std::u16string* str)
{
    *str = platform::Cp932ToUtf16(app_->GetStatusText());
    return platform::kOk;
}

long CServerControl::IsRunning(short* retval)
{
    *retval = Short(app_->IsServerRunning());
    return platform::kOk;
}

long CServerControl::IsService(short* ret)
{
    *ret = Short(app_->IsServiceMode());
    return platform::kOk;
}

long CServerControl::GetServerInfo(std::u16string* ret)
{
    *ret = platform::Cp932ToUtf16(app_->GetServerInfoText());
    return platform::kOk;
}

long CServerControl::GetServerSetting(std::u16string* ret)
{
    *ret = platform::Cp932ToUtf16(app_->GetServerSettingText());
    return platform::kOk;
}

long CServerControl::GetServerContext(std::u16string* ret)
{
    *ret = platform::Cp932ToUtf16(app_->GetServerContextText());
    return platform::kOk;
}

long CServerControl::GetServerRoot(std::u16string* retpath)
{
    *retpath = platform::Cp932ToUtf16(platform::GetModulePath(1));
    return platform::kOk;
}

long CServerControl::IsActive(short* ret)
{
    *ret = Short(app_->GetActiveConnections());
    return platform::kOk;
}
