#pragma once
// The real server program, run as the service on a reserved loopback port from a private
// server root, registry store and runtime folders: for tests that need the process itself
// (its memory, its environment, a kill) rather than a core inside the test.

#include "FreePort.h"
#include "ProgramRunner.h"
#include "ServerTestSupport.h"

#include "ConfigClass.h"
#include "NotifyReceiver.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>

namespace programtest {

class ServerProcessFixture : public testing::Test {
protected:
    // The tests fill `settings` (below "Setting", with %ServerRoot%www/ as the site) and
    // files below Www(), then call StartServer.
    void SetUp() override
    {
        root_ = base_.Path() + "root/";
        ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(Www().c_str(), 0755), 0);
        settings.SetValue("Setting::Path::Path_0::VirtualHost", "*");
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", "%ServerRoot%www/");
    }

    // Writes the settings and starts the service with this process's environment and
    // `changes`; returns once it has reported READY (a test failure when it does not).
    void StartServer(EnvironmentChanges changes = {})
    {
        port_ = reserved_.Port();
        ASSERT_GT(port_, 0);
        settings.SetValue("Setting::Basic::Port", std::to_string(port_));
        // The settings layer takes CP932 paths; the root is native (UTF-8).
        ASSERT_EQ(settings.SaveXml(platform::Utf8ToCp932(root_) + "Tarnwick.xml", ""), 0);
        changes.insert(changes.end(), {"TARNWICK_ROOT=" + root_, "TARNWICK_LISTEN_ADDRESS=127.0.0.1",
                                       "TARNWICK_RUNTIME_DIR=" + base_.Path() + "run",
                                       "TARNWICK_REGISTRY=" + base_.Path() + "registry",
                                       "TARNWICK_UNIT_DIR=" + base_.Path() + "units",
                                       "TARNWICK_SERVICE_RUNTIME_DIR=" + base_.Path() + "system-run",
                                       "NOTIFY_SOCKET=" + notify_.Address()});
        server_ = std::make_unique<ProgramRunner>(TARNWICK_BINARY, std::vector<std::string>{"/Service"}, changes);
        for (;;) {
            const std::optional<std::string> message = notify_.Receive();
            ASSERT_TRUE(message.has_value()) << "no READY: " << server_->ErrorOutput();
            if (message->find("READY=1") != std::string::npos)
                break;
        }
    }

    std::string Www() const { return root_ + "www/"; }
    int Port() const { return port_; }
    ProgramRunner& Server() { return *server_; }

    // A size line of the server's /proc status ("VmHWM", "VmRSS") in KiB; -1 when unknown.
    long StatusKilobytes(const std::string& field) const
    {
        std::ifstream status("/proc/" + std::to_string(server_->Pid()) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.compare(0, field.size() + 1, field + ":") == 0)
                return std::stol(line.substr(field.size() + 1));
        return -1;
    }

    CConfigClass settings;

private:
    servertest::TempFolder base_;
    std::string root_;
    testsupport::NotifyReceiver notify_;
    servertest::ReservedPort reserved_;
    int port_ = -1;
    std::unique_ptr<ProgramRunner> server_;  // killed with the test when still running
};

}  // namespace programtest
