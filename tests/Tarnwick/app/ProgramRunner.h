#pragma once
// The programs under test as child processes (testsupport::ChildProcess under the names
// these tests use), and the clean-up of a server that an activation started indirectly.

#include "ChildProcess.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace programtest {

using ProgramResult = testsupport::ChildResult;
using EnvironmentChanges = testsupport::EnvironmentChanges;
using ProgramRunner = testsupport::ChildProcess;

// Runs the program to its end, at most `limit`.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const EnvironmentChanges& changes = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(10));

// Kills a process that this test process started indirectly (a server that an activation
// spawned) and waits, at most `limit`, until it is gone. Only a live child of this process
// running `program` is touched, so a reused process id is never hit. True when it is gone.
bool KillOwnChild(pid_t pid, const std::string& program,
                  std::chrono::milliseconds limit = std::chrono::seconds(5));

// Whether `pid` names a process that has not been reaped yet.
bool ProcessExists(pid_t pid);

}  // namespace programtest
