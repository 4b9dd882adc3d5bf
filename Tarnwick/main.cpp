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
    return app.Main(platform::Utf8ToCp932(commandLine));
}
