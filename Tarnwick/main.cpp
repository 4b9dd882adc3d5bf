// The server program. Its command line is compared whole, so the arguments are joined
// with blanks as the system hands them over.

#include "IPv4Address.h"
#include "app/ServerApp.h"

#include "Signals.h"
#include "TextCodec.h"

#include <cstdlib>
#include <string>

namespace {

// Every interface, unless TARNWICK_LISTEN_ADDRESS names one IPv4 address (tests and the
// benchmark bind loopback only).
CIPv4Address ListenAddressFromEnvironment()
{
    const char* text = std::getenv("TARNWICK_LISTEN_ADDRESS");
    if (!text || !*text)
        return CIPv4Address();
    const CIPv4Address given{std::string(text)};
    return given.GetAddress() == CIPv4Address::kNone ? CIPv4Address() : given;
}

}  // namespace

int main(int argc, char** argv)
{
    // The sockets send with MSG_NOSIGNAL, but a TLS write through OpenSSL and a file sent
    // with sendfile cannot ask for that.
    platform::IgnoreBrokenPipe();

    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    CServerApp app(ListenAddressFromEnvironment());
    const int exitCode = app.Main(platform::Utf8ToCp932(commandLine));
    // The system keeps only the low 8 bits of an exit status: a failure such as 256 must
    // not read as success.
    return exitCode != 0 && (exitCode & 0xFF) == 0 ? 1 : exitCode;
}
