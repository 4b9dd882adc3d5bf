#pragma once
// What a connection's long-running work (reading a header, a CGI program) polls to learn
// that it should give up, and the address and port the client reached the connection at.

#include "thread/StopCheck.h"
#include "thread/TimeoutWatcher.h"

#include "IPv4Address.h"

#include <string>

class CTcpSocket;
class CWorkerThread;

class CConnectionState : public CStopCheck {
public:
    // The three facets of one connection: its time-out target, its socket and its thread.
    // None is owned; all outlive the record.
    CConnectionState(CTimeoutTarget* timeout, CTcpSocket* socket, CWorkerThread* thread)
        : timeout_(timeout), socket_(socket), thread_(thread)
    {
    }

    // 1 with the text set when the connection should stop: "タイムアウトしました" (timed
    // out), "切断しました" (the peer closed), "中断しました" (stop requested); else 0 and
    // the text stays.
    int GetSocketStateText() override;
    const std::string& GetText() const override { return text_; }
    // The socket's CTcpSocket::GetLocalAddress and GetLocalPort: the address and port the
    // client reached this server at.
    CIPv4Address GetLocalAddress() const;
    int GetLocalPort() const;

private:
    CTimeoutTarget* timeout_;
    CTcpSocket* socket_;
    CWorkerThread* thread_;
    std::string text_;
};
