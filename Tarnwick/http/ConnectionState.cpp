#include "http/ConnectionState.h"

#include "net/TcpSocket.h"
#include "thread/WorkerThread.h"

#include "Socket.h"

CIPv4Address CConnectionState::GetLocalAddress() const
{
    CIPv4Address address;
    address.SetAddress(platform::GetLocalIPv4(socket_->GetHandle()));
    return address;
}

int CConnectionState::GetLocalPort() const { return platform::GetLocalPort(socket_->GetHandle()); }

int CConnectionState::GetSocketStateText()
{
    if (timeout_->IsTimedOut()) {
        text_ = "タイムアウトしました";
        return 1;
    }
    if (socket_->IsDisconnected()) {
        text_ = "切断しました";
        return 1;
    }
    if (thread_->IsStopRequested()) {
        text_ = "中断しました";
        return 1;
    }
    return 0;
}
