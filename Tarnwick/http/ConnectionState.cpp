#include "http/ConnectionState.h"

#include "net/TcpSocket.h"
#include "thread/WorkerThread.h"

CIPv4Address CConnectionState::GetLocalAddress() const { return socket_->GetLocalAddress(); }

int CConnectionState::GetLocalPort() const { return socket_->GetLocalPort(); }

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
