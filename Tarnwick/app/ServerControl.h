#pragma once
// The server's control object: what a client gets when it creates ServerControl. It has
// no state of its own; every method forwards to the application and succeeds at the
// interface level, with its result in the out-parameter.

#include "ServerControlInterface.h"

class CServerApp;

class CServerControl : public IServerControl {
public:
    // The application outlives every control object.
    explicit CServerControl(CServerApp* app) : app_(app) {}

    long StartServer(short* status) override;
    long StopServer() override;
    long GetServerErrorString(std::u16string* str) override;
    long IsRunning(short* retval) override;
    long IsService(short* ret) override;
    long GetServerInfo(std::u16string* ret) override;
    long GetServerSetting(std::u16string* ret) override;
    long GetServerContext(std::u16string* ret) override;
    long GetServerRoot(std::u16string* retpath) override;
    // The number of current connections, not a 0/1 flag.
    long IsActive(short* ret) override;

private:
    CServerApp* app_;  // not owned
};
