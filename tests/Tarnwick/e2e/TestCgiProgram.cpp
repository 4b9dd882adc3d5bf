// A compiled CGI program for the end-to-end tests. What it does is chosen by the query
// string, up to its first '&':
//   echo    the request body (CONTENT_LENGTH bytes of standard input) back, as it came
//   noread  answers at once without reading its input
//   hang    writes its process id to "hang.pid" in its working folder and sleeps
//   other   (any other query, or none) lists its arguments and its environment, one per
//           line: "argc=N", "argv[i]=text", "env:NAME=value"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

// A hanging run that the server failed to end still ends by itself, well after any test's
// time-out.
constexpr unsigned kHangSeconds = 60;

std::string Mode()
{
    const char* query = std::getenv("QUERY_STRING");
    const std::string text = query == nullptr ? "" : query;
    return text.substr(0, text.find('&'));
}

void WriteAll(const char* bytes, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes, length);
        if (n <= 0)
            std::exit(2);
        bytes += n;
        length -= static_cast<size_t>(n);
    }
}

void WriteText(const std::string& text) { WriteAll(text.data(), text.size()); }

int Echo()
{
    const char* lengthText = std::getenv("CONTENT_LENGTH");
    long long remaining = lengthText == nullptr ? 0 : std::atoll(lengthText);
    std::string body;
    char chunk[65536];
    while (remaining > 0) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, remaining < 65536 ? static_cast<size_t>(remaining) : 65536);
        if (n <= 0)
            break;
        body.append(chunk, static_cast<size_t>(n));
        remaining -= n;
    }
    WriteText("Content-Type: application/octet-stream\r\n\r\n");
    WriteText(body);
    return 0;
}

int Hang()
{
    std::FILE* file = std::fopen("hang.pid", "w");
    if (file == nullptr)
        return 1;
    std::fprintf(file, "%d\n", static_cast<int>(::getpid()));
    std::fclose(file);
    ::sleep(kHangSeconds);
    WriteText("Content-Type: text/plain\n\nwoke up\n");
    return 0;
}

int List(int argc, char** argv)
{
    WriteText("Content-Type: text/plain\n\n");
    WriteText("argc=" + std::to_string(argc) + "\n");
    for (int i = 0; i < argc; ++i)
        WriteText("argv[" + std::to_string(i) + "]=" + argv[i] + "\n");
    for (char** entry = environ; *entry != nullptr; ++entry)
        WriteText(std::string("env:") + *entry + "\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = Mode();
    if (mode == "echo")
        return Echo();
    if (mode == "noread") {
        WriteText("Content-Type: text/plain\n\ndone");
        return 0;
    }
    if (mode == "hang")
        return Hang();
    return List(argc, argv);
}
