#pragma once
// A running core on a loopback port with curl as its client: the answer as curl saw it,
// a fixture that starts the core and sends single requests to it, and the small text
// helpers the suites share.

#include "CurlRunner.h"

#include "CoreFixture.h"
#include "ServerTestSupport.h"
#include "net/TestCertificate.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace servertest {

// A single curl transfer to a loopback server is a matter of milliseconds; past this
// something hangs. Every curl also gets a wait a little beyond it.
constexpr const char* kTransferSeconds = "10";
constexpr std::chrono::seconds kRunLimit{15};

inline bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Every byte outside the unreserved set (letters, digits, '-', '_', '.') as %XX, so that
// text reaches the server as bytes, '/' included.
// Bytes whose value tells their position, so that a lost or shifted piece shows.
inline std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 65521) & 0xFF);
    return bytes;
}

inline std::string PercentEncode(const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte == '-' || byte == '_' || byte == '.') {
            text += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            text += escaped;
        }
    }
    return text;
}

// How the lines of a text end: a CR before the LF is part of the line or of its end.
enum class LineEnd { Lf, CrLf };

// The lines of `text`, split at each LF (a last line without one included); with
// LineEnd::CrLf a CR before the LF is dropped as well.
inline std::vector<std::string> SplitLines(const std::string& text, LineEnd end = LineEnd::Lf)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (end == LineEnd::CrLf && !line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// One answer as curl received it.
struct Answer {
    CurlResult run;
    int status = 0;  // 0 when no status line came
    std::string statusLine;
    std::vector<std::pair<std::string, std::string>> headers;  // as sent, in order
    std::string body;

    // The value of the first header of that name (any case); "" when there is none.
    std::string Header(const std::string& name) const
    {
        for (const auto& header : headers)
            if (EqualsNoCase(header.first, name))
                return header.second;
        return "";
    }
    bool HasHeader(const std::string& name) const
    {
        for (const auto& header : headers)
            if (EqualsNoCase(header.first, name))
                return true;
        return false;
    }
};

// The header blocks curl wrote with -D, one per answer.
inline std::vector<Answer> ParseHeaderDump(const std::string& dump)
{
    std::vector<Answer> answers;
    std::istringstream in(dump);
    std::string line;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!inBlock) {
            if (line.empty())
                continue;
            answers.emplace_back();
            answers.back().statusLine = line;
            const std::string::size_type blank = line.find(' ');
            if (blank != std::string::npos)
                answers.back().status = std::atoi(line.c_str() + blank + 1);
            inBlock = true;
        } else if (line.empty()) {
            inBlock = false;
        } else {
            const std::string::size_type colon = line.find(':');
            std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            answers.back().headers.emplace_back(line.substr(0, colon), value);
        }
    }
    return answers;
}

// The derived fixture calls CurlFixture::SetUp and then fills `settings` in its own SetUp;
// each test then calls Start().
class CurlFixture : public CoreFixture {
protected:
    // Both logs go to `logs`: request.txt and system.txt.
    // The first path entry serves the document folder at "/".
    void ServeDocumentsAtRoot()
    {
        settings.SetValue("Setting::Path::Path_0::ServerPath", "/");
        settings.SetValue("Setting::Path::Path_0::LocalPath", docs.Path());
    }

    // Path entry `index` serves `folder` at `serverPath`, each of `options` set to 1.
    void ServeFolder(int index, const std::string& serverPath, const std::string& folder,
                     const std::vector<std::string>& options)
    {
        const std::string entry = "Setting::Path::Path_" + std::to_string(index) + "::";
        settings.SetValue(entry + "ServerPath", serverPath);
        settings.SetValue(entry + "LocalPath", folder);
        for (const std::string& option : options)
            settings.SetValue(entry + "Options::" + option, "1");
    }

    void SetUp() override
    {
        settings.SetValue("Setting::Log::LogFilePath", logs.Path() + "request.txt");
        settings.SetValue("Setting::Log::SystemLogFilePath", logs.Path() + "system.txt");
    }

    void TearDown() override
    {
        CoreFixture::TearDown();
        std::error_code ignored;
        std::filesystem::remove(ServerRoot() + "Debuglog.txt", ignored);
    }

    void Start()
    {
        StartCore();
        ASSERT_NE(core, nullptr);
        port = core->GetSettingAccessor().GetInt("Basic::Port", 0);
        ASSERT_GT(port, 0);
    }

    // Turns the HTTPS port on with the shared throw-away certificate and an unencrypted
    // key; gives the port. Before Start.
    int EnableHttps()
    {
        const TestCertificate& certificate = SharedTestCertificate();
        const int securePort = reservedSecurePort.Port();
        settings.SetValue("Setting::Basic::EnableSSL", "1");
        settings.SetValue("Setting::SSL::Port", std::to_string(securePort));
        settings.SetValue("Setting::SSL::Certificate", certificate.CertificateFile());
        settings.SetValue("Setting::SSL::PrivateKey", certificate.WriteKey("e2e-plain-key.pem", KeyCipher::None, ""));
        return securePort;
    }

    std::string Url(const std::string& target) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + target;
    }

    // Copies the file `from` into the document folder as `name`, executable.
    void InstallProgram(const std::string& from, const std::string& name)
    {
        const std::string to = docs.Path() + name;
        testsupport::PutFile(to, testsupport::GetFile(from));
        ASSERT_EQ(::chmod(to.c_str(), 0755), 0) << to;
    }

    // The request log once the core has written a line of it (it writes the queued lines
    // out once a second); "" when none came within the wait.
    std::string WrittenRequestLog()
    {
        std::string text;
        WaitUntil([&] { return !(text = testsupport::GetFile(logs.Path() + "request.txt")).empty(); });
        return text;
    }

    // A fresh file in the scratch folder for curl to write to.
    std::string ScratchFile(const char* what) { return scratch.Path() + what + std::to_string(++files); }

    // One request by curl; `extra` goes before the URL, curl's stdin is the file `input`
    // when one is named ("-T -" sends it). The answer is the last one curl received (after
    // any 100 Continue).
    Answer Fetch(const std::string& url, const std::vector<std::string>& extra = {}, const std::string& input = "")
    {
        const std::string headerFile = ScratchFile("headers");
        const std::string bodyFile = ScratchFile("body");
        std::vector<std::string> args = {"--max-time", kTransferSeconds, "--path-as-is", "-D", headerFile,
                                         "-o", bodyFile};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(url);
        Answer answer;
        const CurlResult run = RunCurl(args, kRunLimit, input);
        std::vector<Answer> answers = ParseHeaderDump(testsupport::GetFile(headerFile));
        if (!answers.empty())
            answer = answers.back();
        answer.run = run;
        answer.body = testsupport::GetFile(bodyFile);
        return answer;
    }

    // Fetch of `target` ("/path?query") on this server.
    Answer Get(const std::string& target, const std::vector<std::string>& extra = {}, const std::string& input = "")
    {
        return Fetch(Url(target), extra, input);
    }

    // A GET whose target goes on the wire byte for byte (curl escapes the bytes from 0x80
    // up), without curl's start-up: the answer's status (that of an HTTP/1.0 answer too)
    // and body, read until the server closes the connection.
    Answer RawGet(const std::string& target)
    {
        // A whole answer on loopback comes in milliseconds; past this the server hangs.
        constexpr int kRawAnswerMs = 10000;
        Answer answer;
        const int fd =
            ConnectAndSend(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        if (fd < 0)
            return answer;
        std::string received;
        char chunk[4096];
        ssize_t n = 0;
        while (PollReadable(fd, kRawAnswerMs) && (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
            received.append(chunk, static_cast<size_t>(n));
        ::close(fd);
        answer.run.exitCode = n == 0 ? 0 : -1;
        if (received.compare(0, 7, "HTTP/1.") == 0 && received.size() > 9)
            answer.status = std::atoi(received.c_str() + 9);
        const std::string::size_type end = received.find("\r\n\r\n");
        if (end != std::string::npos)
            answer.body = received.substr(end + 4);
        return answer;
    }

    testsupport::TempFolder docs;
    testsupport::TempFolder logs;
    testsupport::TempFolder scratch;
    int port = 0;

private:
    int files = 0;
};

}  // namespace servertest
