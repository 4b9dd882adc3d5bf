#pragma once
// A private world for a test that runs the real server program: a server root whose
// settings listen on a reserved loopback port, and a registration store, runtime folders and
// unit folder of its own, all named through the environment that the controller, the
// activation and the started server read. Whatever server the test's activation started
// and left running is killed when the sandbox goes.

#include "FreePort.h"
#include "ScopedEnvironment.h"
#include "TempFolder.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class ServerSandbox {
public:
    ServerSandbox();
    ~ServerSandbox();
    ServerSandbox(const ServerSandbox&) = delete;
    ServerSandbox& operator=(const ServerSandbox&) = delete;

    // The real server program.
    static std::string ServerProgram();

    // Replaces the root's settings with a default root as tarnwick-make-root writes it (its
    // tables, templates and pictures), listening on this sandbox's port. False, with the
    // test failed, when the tool did not succeed.
    bool MakeDefaultRoot() const;

    // The server root (native, trailing '/'), its settings file and the port they name.
    const std::string& Root() const { return root_; }
    std::string SettingsFile() const { return root_ + "Tarnwick.xml"; }
    int Port() const { return port_.Port(); }
    // A second port held for a test that turns HTTPS on.
    int SecurePort() const { return securePort_.Port(); }
    // The runtime folder a service uses (the client looks there too).
    const std::string& ServiceRuntime() const { return serviceRuntime_; }

    // The process serving the control socket of this sandbox's user folder, -1 when none.
    pid_t ServingProcess() const;
    // Whether a process serves the control class here: the user folder or the service one.
    bool ServerServes() const;

private:
    testsupport::TempFolder base_;
    std::string root_;
    std::string runtime_;
    std::string serviceRuntime_;
    testsupport::ReservedPort port_;
    testsupport::ReservedPort securePort_;
    std::vector<std::unique_ptr<testsupport::ScopedEnvironment>> environment_;
};
