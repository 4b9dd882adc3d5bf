#pragma once
// A server core over this run's server root, built from a settings tree the test fills
// first, and a request's thread node in its context tree.

#include "ServerTestSupport.h"
#include "core/ServerCore.h"
#include "http/RequestPath.h"
#include "http/RequestRecord.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class CoreFixture : public testing::Test {
protected:
    // Writes `settings` as the root's Tarnwick.xml (with reservedPort as Basic::Port unless
    // the test set one) and constructs the core.
    void StartCore();

    // A fresh request's record over requestTree, begun as a connection begins it: its node
    // "Threads::Thread_xxxx" published with its ThreadName, from the client 127.0.0.1 on a
    // plain socket. It lives as long as the fixture.
    CRequestRecord& NewRecord();
    // The path of `object` for the Host `host` resolved on the core's settings, as the
    // driver resolves it; it lives as long as the fixture. Throws what resolving throws.
    const CRequestPath& NewPath(const std::string& object, const std::string& host = "");

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
    std::vector<std::unique_ptr<CRequestRecord>> records;
    std::vector<std::unique_ptr<CRequestPath>> paths;
};
