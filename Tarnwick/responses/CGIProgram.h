#pragma once
// What a CGI program (or the program of an SSI exec) is started with: its command line,
// chosen by the CGI entries of the settings, and its environment, made from the request,
// the server's identity and a few variables of the server's own environment. They are
// made here, apart from the runner (CSubProcess), which only runs what it is given.

#include "ConfigAccessor.h"

#include <cstdint>
#include <string>

class CConnectionState;
class CRequestPath;
class CRequestRecord;
class CServerCore;

// Entries taken from the server's own environment: more is no ordinary environment, and
// every entry is copied for every program started.
constexpr int kMaxOwnEnvironment = 256;

// The command line for a script: "" when no CGI entry of the settings serves the file.
// Each argument of the entry's Command is filled on its own (%FilePath%, %Query%; any
// other placeholder stays as written), once, so no inserted text is expanded again and
// none can split into more arguments. Arguments are quoted as SplitCommandLine reads them
// back. The script's first line is read when an entry needs it.
std::string MakeCommandLine(CServerCore* core, const std::string& filePath, const std::string& query);

// What a program is told beside the request's header lines and the server's identity.
struct CgiCallFacts {
    std::string serverAddress;  // SERVER_ADDR: the address the client connected to
    int serverPort = 0;         // SERVER_PORT: the port it connected to (HTTPS's on HTTPS)
    int64_t contentLength = 0;  // CONTENT_LENGTH: the body the program gets, decoded if it came chunked
};

// The address and port `connection` was reached at, with `contentLength`.
CgiCallFacts MakeCgiCallFacts(const CConnectionState& connection, int64_t contentLength);

// A header value as an environment value: CR and LF become blanks, so that it stays one
// line whatever a request's record was given.
std::string OneLine(std::string value);

// Clears envView's node and sets the CGI variables of the request (`record`'s, resolved
// as `path`) as its leaves, in their fixed order. Header values have CR and LF replaced by
// blanks.
void BuildEnvironment(const CConfigAccessor& envView, CServerCore* core, const CRequestRecord& record,
                      const CRequestPath& path, const CgiCallFacts& facts);

// The environment block of a program: "NAME=value" entries, each ended by a zero byte.
// First the leaves of `variables` in order, then of `ownEnvironment` (entries ended by a
// null pointer, as platform::OwnEnvironment gives them) only PATH, LANG, LC_* and TZ, at
// most kMaxOwnEnvironment of them, so that no secret of the server (a credential, a key)
// reaches a program. An entry with an empty value, or without '=', is left out.
std::string MakeEnvironmentBlock(const CConfigAccessor& variables, const char* const* ownEnvironment);

// The block for the request: BuildEnvironment, then MakeEnvironmentBlock with this
// process's environment.
std::string PrepareEnvironment(CServerCore* core, const CRequestRecord& record, const CRequestPath& path,
                               const CgiCallFacts& facts);
