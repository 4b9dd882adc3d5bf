#pragma once
// A server core over this run's server root, built from a settings tree the test fills
// first, and a request's thread node in its context tree.

#include "ServerTestSupport.h"
#include "core/ServerCore.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class CoreFixture : public testing::Test {
protected:
    // Writes `settings` as the root's Tarnwick.xml (with reservedPort as Basic::Port unless
    // the test set one) and constructs the core.
    void StartCore();

    // A fresh request node "Threads::Thread_xxxx" of requestTree, with its ThreadName, as
    // a connection keeps it while the request is in progress.
    CConfigAccessor NewThreadView();

    // Writes a file under the server root (folders created); `path` is relative to it.
    static void PutFile(const std::string& path, const std::string& bytes);

    void TearDown() override;

    CConfigClass settings;  // fill before StartCore; keys under "Setting::"
    // Loopback ports held for the core's listeners while the test runs: the plain one, and
    // one for a test that turns HTTPS on.
    servertest::ReservedPort reservedPort;
    servertest::ReservedPort reservedSecurePort;
    std::unique_ptr<CServerCore> core;
    CConfigClass requestTree;
};
