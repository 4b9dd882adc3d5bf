// The server program. Its command line is compared whole, so the arguments are joined
// with blanks as the system hands them over.

#include "ServerApp.h"

#include "TextCodec.h"

#include <string>

int main(int argc, char** argv)
{
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    CServerApp app;
    const int exitCode = app.Main(platform::Utf8ToCp932(commandLine));
    // The system keeps only the low 8 bits of an exit status: a failure such as 256 must
    // not read as success.
    return exitCode != 0 && (exitCode & 0xFF) == 0 ? 1 : exitCode;
}
