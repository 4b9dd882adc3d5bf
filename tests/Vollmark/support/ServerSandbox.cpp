#include "ServerSandbox.h"

#include "ProgramRunner.h"

#include "ConfigClass.h"
#include "ControlWire.h"
#include "ServerControlInterface.h"
#include "TextCodec.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

ServerSandbox::ServerSandbox()
{
    root_ = base_.Path() + "root/";
    runtime_ = base_.Path() + "run";
    serviceRuntime_ = base_.Path() + "service-run";
    ::mkdir(root_.c_str(), 0755);
    ::mkdir((root_ + "www").c_str(), 0755);
    ::mkdir((base_.Path() + "units").c_str(), 0755);
    // The desktop's runtime folder, which Qt expects to find (and complains without).
    ::mkdir((base_.Path() + "xdg").c_str(), 0700);
    const auto set = [this](const char* name, const std::string& value) {
        environment_.push_back(std::make_unique<testsupport::ScopedEnvironment>(name, value));
    };
    set("TARNWICK_ROOT", root_);
    set("TARNWICK_LISTEN_ADDRESS", "127.0.0.1");
    set("TARNWICK_RUNTIME_DIR", runtime_);
    set("TARNWICK_SERVICE_RUNTIME_DIR", serviceRuntime_);
    set("TARNWICK_REGISTRY", base_.Path() + "registry");
    set("TARNWICK_UNIT_DIR", base_.Path() + "units");
    set("XDG_RUNTIME_DIR", base_.Path() + "xdg");
    environment_.push_back(std::make_unique<testsupport::ScopedEnvironment>("NOTIFY_SOCKET", nullptr));

    CConfigClass tree;
    tree.SetValue("Setting::Basic::Port", std::to_string(Port()));
    // A kept-alive connection holds its worker between requests, so a test can show one.
    tree.SetValue("Setting::Basic::EnableKeepAlive", "1");
    tree.SetValue("Setting::Path::Path_0::VirtualHost", "*");
    tree.SetValue("Setting::Path::Path_0::ServerPath", "/");
    tree.SetValue("Setting::Path::Path_0::LocalPath", "%ServerRoot%www/");
    EXPECT_EQ(tree.SaveXml(platform::Utf8ToCp932(SettingsFile()), ""), 0);
}

ServerSandbox::~ServerSandbox()
{
    // A server still serving here was started by this test's activation: end it.
    const pid_t pid = ServingProcess();
    if (pid > 0) {
        EXPECT_TRUE(programtest::KillOwnChild(pid, ServerProgram())) << "server " << pid << " stays";
    }
}

std::string ServerSandbox::ServerProgram() { return TARNWICK_BINARY; }

bool ServerSandbox::MakeDefaultRoot() const
{
    ::unlink(SettingsFile().c_str());
    const programtest::ProgramResult made = programtest::RunProgram(MAKE_ROOT_BINARY, {root_});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    CConfigClass tree;
    const std::string file = platform::Utf8ToCp932(SettingsFile());
    tree.LoadXml(file);
    tree.SetValue("Setting::Basic::Port", std::to_string(Port()));
    EXPECT_EQ(tree.SaveXml(file, ""), 0);
    return made.exitCode == 0 && !testing::Test::HasFailure();
}

pid_t ServerSandbox::ServingProcess() const
{
    return testsupport::ListeningProcess(platform::GetControlSocketPath(platform::kServerControlClsid));
}

bool ServerSandbox::ServerServes() const
{
    return ServingProcess() > 0 ||
           testsupport::ListeningProcess(serviceRuntime_ + "/" + platform::kServerControlClsid) > 0;
}
