#include "responses/SSIResponse.h"

#include "core/ServerCore.h"
#include "http/AccessCheck.h"
#include "http/ConnectionState.h"
#include "http/HtmlTemplate.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "process/SubProcess.h"
#include "responses/CGIProgram.h"
#include "responses/CGIResponse.h"

#include "ByteBuffer.h"
#include "ConfigClass.h"
#include "FilePath.h"
#include "IPv4Address.h"
#include "SettingsSchema.h"
#include "TextTrim.h"
#include "UrlCoding.h"

#include "CRuntime.h"
#include "FileIo.h"
#include "FileSystem.h"
#include "Process.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

const char kParseFailed[] = "ファイルの操作に失敗しました";
const char kCannotOpen[] = "ファイルが開けません";
const char kCannotRun[] = "コマンドが実行できませんでした";
const char kIfNotSupported[] = "SSIの制御構文はサポートしていません。";

// None of these bytes can be the second byte of a Shift-JIS character, so plain searches
// find only the real markers.
const std::string kDirectiveOpen = "<!--#";
const std::string kDirectiveClose = "-->";

// sizefmt="abbrev" shows sizes from these on in kilobytes, megabytes: a figure in either
// unit always has at least two digits.
constexpr int64_t kAbbrevKiloFrom = 10240;
constexpr int64_t kAbbrevMegaFrom = 10485760;
// The size of the strftime buffer; a longer text counts as a failed conversion.
constexpr std::size_t kTimeTextSize = 128;

// A blank as isblank knows it: it separates a directive's command from its parameters and
// an exec program from its arguments.
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string::size_type FindBlank(const std::string& text)
{
    for (std::string::size_type i = 0; i < text.size(); ++i)
        if (IsBlank(text[i]))
            return i;
    return std::string::npos;
}

// An attribute's name and value lose every quote at their ends, paired or not.
constexpr std::string_view kQuotes = "\"";

}  // namespace

// --- document -------------------------------------------------------------------------------

CSSIDocument::CSSIDocument(CConnectionState& connection) : connection_(connection) {}

int CSSIDocument::ParseDirectives(const std::string& localPath)
{
    std::string text;
    std::string error;
    platform::ReadWholeFile(localPath, text, error);
    return ParseText(text);
}

int CSSIDocument::ParseText(const std::string& text)
{
    text_ = text;
    directives_.clear();
    if (text_.empty())
        return -1;

    std::string pending;
    std::string::size_type pos = 0;
    int count = 0;
    for (;;) {
        const std::string::size_type open = text_.find(kDirectiveOpen, pos);
        if (open == std::string::npos)
            break;
        const std::string::size_type innerStart = open + kDirectiveOpen.size();
        const std::string::size_type close = text_.find(kDirectiveClose, innerStart);
        if (close == std::string::npos)
            break;
        pending.append(text_, pos, open - pos);
        const std::string inner = text_.substr(innerStart, close - innerStart);
        pos = close + kDirectiveClose.size();

        const std::string::size_type blank = FindBlank(inner);
        if (blank != std::string::npos) {
            CSSIDirective directive;
            directive.command = platform::_mbslwr(TrimText(inner.substr(0, blank)));
            directive.parameters = TrimText(inner.substr(blank + 1));
            const std::string::size_type equals = directive.parameters.find('=');
            if (equals != std::string::npos) {
                directive.attributeName = platform::_mbslwr(TrimText(directive.parameters.substr(0, equals), kQuotes));
                directive.attributeValue = TrimText(directive.parameters.substr(equals + 1), kQuotes);
            }
            directive.precedingText.swap(pending);
            directives_.push_back(std::move(directive));
            pending.clear();
        }

        if (++count > kDirectivesPerConnectionTest) {
            count = 0;
            if (connection_.GetSocketStateText()) {
                directives_.clear();
                return -1;
            }
        }
    }

    CSSIDirective last;
    last.precedingText = pending + text_.substr(pos);
    directives_.push_back(std::move(last));
    return 0;
}

// --- response -------------------------------------------------------------------------------

CSSIResponse::CSSIResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path, CConnectionState& connection)
    : CNormalResponse(core, record, path), document_(connection), connection_(connection)
{
    // A refused path (or a forward entry) has no local path: never read "" or "/".
    if (path_.Exists() == 0 || path_.GetLocalPath().empty()) {
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }
    // RFC 9110 9.1: method names are case-sensitive.
    if (request_.GetMethodKind() != HttpMethod::Get && request_.GetMethodKind() != HttpMethod::Head) {
        CSystemResponse& notAllowed = ReplaceWithStatusPage(kNotAllowed, 405);
        // RFC 9110 15.5.6: a 405 names the methods the target does support.
        notAllowed.SetHeader("Allow", "GET, HEAD");
    }
}

CSSIResponse::~CSSIResponse() = default;

void CSSIResponse::Build()
{
    output_.clear();
    sent_ = 0;
    timefmt_ = kDefaultTimeFormat;
    sizefmt_ = kDefaultSizeFormat;
    if (document_.ParseDirectives(path_.GetLocalPath()) != 0)
        throw CServerFatalException{kParseFailed};

    const std::vector<CSSIDirective>& directives = document_.GetDirectives();
    output_ = directives.front().precedingText;
    for (std::size_t i = 0; i + 1 < directives.size(); ++i) {
        RunDirective(directives[i]);
        output_ += directives[i + 1].precedingText;
    }
}

int64_t CSSIResponse::GetContentLength() { return static_cast<int64_t>(output_.size()); }

int CSSIResponse::GetSendData(CByteBuffer& buffer)
{
    if (sent_)
        return 0;
    if (output_.empty())
        throw CServerFatalException{kEmptyPage};
    sent_ = 1;
    buffer.AssignString(output_);
    return buffer.GetLength();
}

void CSSIResponse::RunDirective(const CSSIDirective& directive)
{
    const std::string& command = directive.command;
    const std::string& name = directive.attributeName;
    if (command == "config") {
        if (name == "timefmt")
            timefmt_ = directive.attributeValue;
        else if (name == "sizefmt")
            sizefmt_ = directive.attributeValue;
    } else if (command == "echo") {
        output_ += CHtmlTemplate::EscapeHtml(EchoValue(directive.attributeValue));
    } else if (command == "include") {
        Include(directive);
    } else if (command == "fsize") {
        FileSize(directive);
    } else if (command == "flastmod") {
        FileLastModified(directive);
    } else if (command == "exec") {
        if (name == "cmd")
            ExecCommand(directive.attributeValue);
        else if (name == "cgi")
            ExecCgi(directive.attributeValue);
    } else if (command == "if") {
        output_ += kIfNotSupported;
    }
}

std::string CSSIResponse::ResolveFile(const CSSIDirective& directive) const
{
    return directive.attributeName == "file" ? ResolveIncludedFile(directive.attributeValue)
                                             : ResolveVirtualAttribute(directive.attributeValue);
}

std::string CSSIResponse::ResolveIncludedFile(const std::string& value) const
{
    if (value.empty() || value[0] == '/')
        return "";
    // Neither '/' nor '.' is ever the second byte of a Shift-JIS character.
    const bool hiddenAllowed = path_.Entry().enableHiddenFile.Read() != 0;
    // The names without "." and empty ones, as a URL below the document's folder.
    std::string url;
    for (std::string::size_type start = 0; start <= value.size();) {
        std::string::size_type end = value.find('/', start);
        if (end == std::string::npos)
            end = value.size();
        const std::string name = value.substr(start, end - start);
        if (name == ".." || (!hiddenAllowed && name.size() > 1 && name[0] == '.'))
            return "";
        if (!name.empty() && name != ".")
            url += (url.empty() ? "" : "/") + name;
        start = end + 1;
    }
    const std::string path = GetParentDirectory(path_.GetLocalPath()) + value;
    if (GetPathType(path) != 1)
        return "";
    // The file is also a URL beside the document, and may lie in a path entry of its own
    // (a protected folder inside this one): its checks hold for the include too.
    const std::string& current = request_.GetObject();
    const std::string folderUrl = current.substr(0, current.rfind('/') + 1);
    const CRequestPath target(folderUrl + url, path_.GetTargetHost(), path_.GetSettingsSnapshot());
    return MayRequest(target) ? path : "";
}

std::string CSSIResponse::ResolveFileAttribute(const std::string& value) const
{
    const std::string folder = GetParentDirectory(path_.GetLocalPath());
    std::string path;
    if (value.compare(0, 2, "./") == 0)
        path = folder + value.substr(2);
    else if (!value.empty() && value[0] == '/')
        path = value;
    else
        path = folder + value;
    return GetPathType(path) == 1 ? path : "";
}

std::string CSSIResponse::ResolveVirtualAttribute(const std::string& value) const
{
    // Normalised as the request parser does ("/../" collapses to "/"), so no ".." can climb
    // out of the document's folder. The request's folder is decoded and normalised already
    // and is not decoded a second time.
    std::string object;
    if (!value.empty() && value[0] == '/') {
        object = NormalizeUrlPath(value);
    } else {
        const std::string& current = request_.GetObject();
        const std::string::size_type slash = current.rfind('/');
        const std::string folder = slash == std::string::npos ? "/" : current.substr(0, slash + 1);
        object = folder + NormalizeUrlPath("/" + value).substr(1);
    }
    const CRequestPath target(object, path_.GetTargetHost(), path_.GetSettingsSnapshot());
    if (target.Exists() != 1 || !MayRequest(target))
        return "";
    // include, fsize and flastmod read a file: a folder or a forward entry has none.
    const std::string& local = target.GetLocalPath();
    return !local.empty() && GetPathType(local) == 1 ? local : "";
}

bool CSSIResponse::MayRequest(const CRequestPath& target) const
{
    return MayEnter(request_, target, record_.IsSecure() ? 1 : 0, CIPv4Address(record_.GetHost()));
}

void CSSIResponse::FillEchoVariables(const CConfigAccessor& envView) const
{
    BuildEnvironment(envView, core_, record_, path_, MakeCgiCallFacts(connection_, request_.GetContentLength()));
    const std::string& localPath = path_.GetLocalPath();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    platform::FileStatus status;
    const bool known = platform::GetFileStatus(localPath, status);
    envView.SetString("DOCUMENT_NAME", GetFileName(localPath));
    envView.SetString("DOCUMENT_URI", request_.GetUrl());
    envView.SetString("QUERY_STRING_UNESCAPED", request_.GetQuery());
    envView.SetString("DATE_LOCAL", FormatTime(now, false, timefmt_));
    envView.SetString("DATE_GMT", FormatTime(now, true, timefmt_));
    envView.SetString("LAST_MODIFIED", known ? FormatTime(status.modified, false, timefmt_) : "");
}

std::string CSSIResponse::EchoValue(const std::string& name) const
{
    CConfigClass scratch;
    const CConfigAccessor envView(&scratch, "Env");
    FillEchoVariables(envView);
    std::vector<CConfigLeaf> variables;
    envView.GetLeaves(variables);
    for (const CConfigLeaf& variable : variables)
        if (platform::_mbsicmp(variable.key, name) == 0)
            return variable.value;
    return "";
}

void CSSIResponse::Include(const CSSIDirective& directive)
{
    const std::string file = ResolveFile(directive);
    std::string contents;
    std::string error;
    if (file.empty() || platform::ReadWholeFile(file, contents, error) != platform::FileReadResult::Read) {
        output_ += kCannotOpen;
        return;
    }
    output_ += contents;
}

void CSSIResponse::FileSize(const CSSIDirective& directive)
{
    const std::string file = ResolveFile(directive);
    platform::FileStatus status;
    if (file.empty() || !platform::GetFileStatus(file, status)) {
        output_ += kCannotOpen;
        return;
    }
    output_ += FormatSize(static_cast<int64_t>(status.size), sizefmt_);
}

void CSSIResponse::FileLastModified(const CSSIDirective& directive)
{
    const std::string file = ResolveFile(directive);
    platform::FileStatus status;
    if (file.empty() || !platform::GetFileStatus(file, status)) {
        output_ += kCannotOpen;
        return;
    }
    output_ += FormatTime(status.modified, false, timefmt_);
}

void CSSIResponse::ExecCommand(const std::string& value)
{
    const std::string::size_type blank = FindBlank(value);
    const std::string program = value.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : value.substr(blank);
    const std::string resolved = ResolveFileAttribute(program);
    // Without a program the arguments alone must never be run as a command of their own.
    if (resolved.empty()) {
        output_ += kCannotRun;
        return;
    }
    // The path is one argument whatever it holds; the rest is the page author's, split by
    // the runner's quoting rules.
    std::string text;
    if (!RunProgram(platform::QuoteArgument(resolved) + rest, GetParentDirectory(resolved), text))
        output_ += kCannotRun;
    output_ += text;
}

void CSSIResponse::ExecCgi(const std::string& value)
{
    const std::string path = ResolveFileAttribute(value);
    const std::string command = path.empty() ? "" : MakeCommandLine(core_, path, "");
    if (command.empty()) {
        output_ += kCannotRun;
        return;
    }
    std::string text;
    if (!RunProgram(command, GetParentDirectory(path), text))
        output_ += kCannotRun;
    // The header lines are not evaluated: the page has its own.
    output_ += StripCgiHeader(text);
}

bool CSSIResponse::RunProgram(const std::string& commandLine, const std::string& folder, std::string& output)
{
    bool ran = true;
    CSubProcess process(connection_);
    try {
        process.SetEnvironmentBlock(
            PrepareEnvironment(core_, record_, path_, MakeCgiCallFacts(connection_, request_.GetContentLength())));
        process.Start(commandLine, folder, record_.GetThreadName());
    } catch (const CSubProcessException&) {
        ran = false;
    }
    // Whatever the program wrote before a failure is shown too, up to a zero byte as the
    // page is text.
    output = process.GetOutput().ReadAll();
    output.resize(std::min(output.size(), output.find('\0')));
    return ran;
}

std::string CSSIResponse::FormatSize(int64_t size, const std::string& sizefmt)
{
    char text[32];
    if (sizefmt == kDefaultSizeFormat && size >= kAbbrevKiloFrom) {
        if (size < kAbbrevMegaFrom)
            std::snprintf(text, sizeof text, "%" PRId64 "K", size / 1024);
        else
            std::snprintf(text, sizeof text, "%" PRId64 "M", size / 1048576);
    } else {
        std::snprintf(text, sizeof text, "%" PRId64, size);
    }
    return text;
}

std::string CSSIResponse::FormatTime(int64_t unixTime, bool gmt, const std::string& timefmt)
{
    const std::time_t time = static_cast<std::time_t>(unixTime);
    std::tm parts{};
    if ((gmt ? ::gmtime_r(&time, &parts) : ::localtime_r(&time, &parts)) == nullptr)
        return "";
    char text[kTimeTextSize];
    const std::size_t length = std::strftime(text, sizeof text, timefmt.c_str(), &parts);
    return std::string(text, length);
}

std::string StripCgiHeader(const std::string& output)
{
    std::string::size_type bodyStart = 0;
    if (CCGIResponse::FindBlankLine(output, bodyStart) == std::string::npos)
        return output;
    return output.substr(bodyStart);
}
