#include "responses/CGIProgram.h"

#include "CRuntime.h"
#include "ConfigClass.h"
#include "FileIo.h"
#include "FilePath.h"
#include "IPv4Address.h"
#include "Process.h"
#include "SettingsSchema.h"
#include "core/ServerCore.h"
#include "http/ConnectionState.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/RequestRecord.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The variables of the server's own environment that a program gets: what finds programs
// and chooses its language and time zone, nothing that may hold a secret.
bool IsPassedOn(const std::string& name)
{
    return name == "PATH" || name == "LANG" || name == "TZ" || name.compare(0, 3, "LC_") == 0;
}

// %FilePath% and %Query% filled in one pass: what is inserted is never read again.
std::string FillPlaceholders(const std::string& text, const std::string& filePath, const std::string& query)
{
    static const std::string kFilePath = "%FilePath%";
    static const std::string kQuery = "%Query%";
    std::string filled;
    for (std::string::size_type i = 0; i < text.size();) {
        if (text.compare(i, kFilePath.size(), kFilePath) == 0) {
            filled += filePath;
            i += kFilePath.size();
        } else if (text.compare(i, kQuery.size(), kQuery) == 0) {
            filled += query;
            i += kQuery.size();
        } else {
            filled += text[i++];
        }
    }
    return filled;
}

// Appends "k=v" and a zero byte; an entry with an empty value (or none) is left out.
void AppendEnvironmentEntry(std::string& block, const std::string& entry)
{
    const std::string::size_type equals = entry.find('=');
    if (equals == std::string::npos || equals + 1 == entry.size())
        return;
    block += entry;
    block += '\0';
}

}  // namespace

std::string OneLine(std::string value)
{
    std::replace(value.begin(), value.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

std::string MakeCommandLine(CServerCore* core, const std::string& filePath, const std::string& query)
{
    struct Entry {
        std::string fileExt;
        int executeFile;
        std::string fileHeader;
        std::string command;
    };
    // Taken in one step, so that no file is read under the settings lock.
    std::vector<Entry> entries;
    {
        const CConfigAccessor cgi = core->GetSettingAccessor().GetSubAccessor(schema::kCgi.path);
        CConfigReadLock lock(cgi);
        std::vector<std::string> names;
        cgi.GetSections(names);
        for (const std::string& name : names) {
            const CConfigAccessor entry = cgi.GetSubAccessor(name);
            entries.push_back(Entry{schema::kCgiFileExt.Read(entry), schema::kCgiExecuteFile.Read(entry),
                                    schema::kCgiFileHeader.Read(entry), schema::kCgiCommand.Read(entry)});
        }
    }

    const std::string extension = GetFileExtension(filePath);
    const std::string nativePath = platform::NativePath(filePath);
    bool lineRead = false;
    std::string line;
    std::string command;
    for (const Entry& entry : entries) {
        if (platform::_mbsicmp(entry.fileExt, extension) != 0)
            continue;
        if (!lineRead) {
            line = platform::ReadProgramFirstLine(nativePath);
            lineRead = true;
        }
        bool chosen = false;
        if (entry.executeFile == 1)
            chosen = platform::IsRunnableProgram(nativePath, line);
        else if (entry.executeFile == 0)
            chosen = entry.fileHeader.empty() ||
                     platform::_mbsstr(platform::_mbslwr(line), platform::_mbslwr(entry.fileHeader)) != std::string::npos;
        if (chosen) {
            command = entry.command;
            break;
        }
    }

    std::string commandLine;
    for (const platform::CommandArgument& arg : platform::SplitCommandLine(command)) {
        const std::string filled = FillPlaceholders(arg.text, filePath, query);
        // An empty query leaves no argument behind, as it would leave nothing on a
        // command line; an argument written in quotes stays, empty or not.
        if (filled.empty() && !arg.quoted)
            continue;
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += platform::QuoteArgument(filled);
    }
    return commandLine;
}

CgiCallFacts MakeCgiCallFacts(const CConnectionState& connection, int64_t contentLength)
{
    return CgiCallFacts{connection.GetLocalAddress().ToString(), connection.GetLocalPort(), contentLength};
}

void BuildEnvironment(const CConfigAccessor& envView, CServerCore* core, const CRequestRecord& record,
                      const CRequestPath& path, const CgiCallFacts& facts)
{
    const CHttpRequest& request = record.GetRequest();
    const CConfigAccessor info = core->GetInfoAccessor();
    const std::string signature = info.GetString("ServerSignature", "");
    const std::string host = request.GetHeader("Host");
    const std::string remoteAddress = record.GetHost();
    // Only credentials that the path entry checked name a user.
    const bool authenticated = path.Entry().enableAuthenticate.Read() != 0 && !request.GetUser().empty();

    // Gathered first: the view's lock is not held over other trees or a name lookup.
    std::vector<std::pair<const char*, std::string>> variables;
    const auto set = [&variables](const char* name, std::string value) {
        variables.emplace_back(name, std::move(value));
    };
    set("SERVER_SOFTWARE", signature);
    set("SERVER_SIGNATURE", "<address>" + signature + "</address>");
    set("SERVER_NAME", info.GetString("ServerHostName", ""));
    set("GATEWAY_INTERFACE", "CGI/1.1");
    set("SERVER_PROTOCOL", "HTTP/1.1");
    set("SERVER_ADDR", facts.serverAddress);
    set("SERVER_PORT", std::to_string(facts.serverPort));
    if (!host.empty())
        set("HTTP_HOST", OneLine(host));
    set("REQUEST_METHOD", request.GetMethod());
    set("CONTENT_LENGTH", std::to_string(facts.contentLength));
    set("CONTENT_TYPE", OneLine(request.GetHeader("Content-Type")));
    set("QUERY_STRING", request.GetQuery());
    set("SCRIPT_FILENAME", path.GetLocalPath());
    set("SCRIPT_NAME", request.GetObject());
    set("REQUEST_URI", request.GetUrl());
    if (authenticated)
        set("AUTH_TYPE", "basic");
    set("HTTP_ACCEPT", OneLine(request.GetHeader("Accept", "*/*")));
    set("HTTP_USER_AGENT", OneLine(request.GetHeader("User-Agent")));
    set("HTTP_REFERER", OneLine(request.GetHeader("Referer")));
    set("REMOTE_ADDR", remoteAddress);
    if (schema::kEnableGetHostName.Read(core->GetSettingAccessor()) != 0)
        set("REMOTE_HOST", CIPv4Address(remoteAddress).GetHostName());
    if (authenticated)
        set("REMOTE_USER", request.GetUser());
    set("HTTP_VIA", OneLine(request.GetHeader("Via")));
    set("HTTP_FORWARDED", OneLine(request.GetHeader("Forwarded")));
    set("HTTP_PROXY_CONNECTION", OneLine(request.GetHeader("Proxy-Connection")));
    set("HTTP_COOKIE", OneLine(request.GetHeader("Cookie")));

    CConfigLock lock(envView);
    envView.Clear();
    for (const auto& variable : variables)
        envView.SetString(variable.first, variable.second);
}

std::string MakeEnvironmentBlock(const CConfigAccessor& variables, const char* const* ownEnvironment)
{
    std::string block;
    std::vector<CConfigLeaf> leaves;
    variables.GetLeaves(leaves);
    for (const CConfigLeaf& leaf : leaves)
        AppendEnvironmentEntry(block, leaf.key + "=" + leaf.value);

    int taken = 0;
    for (const char* const* entry = ownEnvironment; entry && *entry && taken < kMaxOwnEnvironment; ++entry) {
        const std::string text = *entry;
        const std::string::size_type equals = text.find('=');
        if (equals == std::string::npos || !IsPassedOn(text.substr(0, equals)))
            continue;
        AppendEnvironmentEntry(block, text);
        ++taken;
    }
    return block;
}

std::string PrepareEnvironment(CServerCore* core, const CRequestRecord& record, const CRequestPath& path,
                               const CgiCallFacts& facts)
{
    CConfigClass scratch;
    const CConfigAccessor env = scratch.GetAccessor("Env");
    BuildEnvironment(env, core, record, path, facts);
    return MakeEnvironmentBlock(env, platform::OwnEnvironment());
}
