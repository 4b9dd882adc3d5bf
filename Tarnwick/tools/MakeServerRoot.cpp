// Prepares a server root for a first run: a settings file with the first-root values of the
// settings table (written by the settings tree's own saver, so it is exactly what the
// server reads), a "www" folder with a small index page and the pictures index pages show,
// the "Html" folder with the server's built-in page templates as files to edit, and the
// log folder. Existing files are left alone; only --port changes the settings of a root
// that has them. The usage text below is the command line.
//
// The host in the addresses of --urls is TARNWICK_LISTEN_ADDRESS, or 127.0.0.1 when it is
// unset.

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "DefaultIcons.h"
#include "DefaultMimeTypes.h"
#include "FileIo.h"
#include "FilePath.h"
#include "SettingsSchema.h"
#include "TextCodec.h"
#include "http/BuiltinPages.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char kUsage[] =
    "usage: tarnwick-make-root [--port N] ROOT\n"
    "       tarnwick-make-root --urls ROOT\n"
    "\n"
    "Prepares the server root ROOT for a first run: default settings (Tarnwick.xml), its\n"
    "www, Html and Logs folders. Files that exist are left alone.\n"
    "\n"
    "  --port N   serve HTTP on port N (1-65535): written into the settings, whether the\n"
    "             root is new or has settings already\n"
    "  --urls     print the addresses the root's settings serve on, one a line\n"
    "  --help     print this text\n";

// The exit status of a command line that is not understood, as the shell's own tools have it.
constexpr int kUsageExitCode = 2;
// The ports a TCP listener can take (RFC 9293 3.1: 16 bits; 0 asks for any).
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

const char kIndexPage[] =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
    "<title>Tarnwick</title>\r\n</head>\r\n<body>\r\n<h1>Tarnwick</h1>\r\n"
    "<p>サーバは正常に作動中です。</p>\r\n</body>\r\n</html>\r\n";

// A server listening on every address is reached on loopback from this machine.
constexpr const char* kDisplayedHost = "127.0.0.1";
// Settings name the root's folders through this variable.
constexpr std::string_view kServerRootVariable = "%ServerRoot%";
// The root of the settings tree's keys.
const std::string kSettingNode = "Setting::";

// The folder of the root that a settings value names ("%ServerRoot%www/" gives "www/").
constexpr std::string_view RootFolder(std::string_view value)
{
    if (value.substr(0, kServerRootVariable.size()) != kServerRootVariable)
        throw std::logic_error("the value names no folder of the server root");
    return value.substr(kServerRootVariable.size());
}

// The folder the first path entry serves, which the documents go into.
constexpr std::string_view kDocumentFolder =
    RootFolder(schema::FindRow(schema::kLocalPath.scope, schema::kLocalPath.path).firstRootValue);
// The server's own template folder, which the templates go into.
constexpr std::string_view kHtmlFolder = RootFolder(schema::kHtmlFileDirectory.serverDefault);
// The folder of the server's own log files.
constexpr std::string_view kLogFolder = RootFolder(schema::kSystemLogFilePath.serverDefault.substr(
    0, schema::kSystemLogFilePath.serverDefault.rfind('/') + 1));

// The controller edits a table as this text and rebuilds the table from it, so it must
// hold every entry written: a line per type or icon, its extensions or filters after it.
std::string TableLine(const std::string& name, const std::vector<std::string>& values)
{
    std::string line = name;
    for (const std::string& value : values)
        line += ' ' + value;
    return line + "\r\n";
}

// The node a key of `scope` goes under: "Setting", or the first entry of the node whose
// entries hold that scope ("Setting::Path::Path_0::").
std::string FirstRootNode(schema::Scope scope)
{
    if (scope == schema::kInSetting)
        return kSettingNode;
    for (const schema::SettingRow& row : schema::kTable) {
        if (row.kind == schema::kEntries && row.entryScope == scope && *row.entryNames != '\0') {
            const std::string entry = schema::FindNode(row.scope, row.path).EntryName(0);
            return kSettingNode + std::string(row.path) + "::" + entry + "::";
        }
    }
    throw std::logic_error("no numbered entries hold the key");
}

// A list's rows, separated by blanks.
std::vector<std::string> ListRows(std::string_view value)
{
    std::vector<std::string> rows;
    for (std::string_view::size_type start = 0; start < value.size();) {
        const std::string_view::size_type end = std::min(value.find(' ', start), value.size());
        if (end > start)
            rows.emplace_back(value.substr(start, end - start));
        start = end + 1;
    }
    return rows;
}

// The values the settings table gives a first root, in its order.
void FillTableValues(CConfigClass& tree)
{
    for (const schema::SettingRow& row : schema::kTable) {
        if (row.firstRoot != schema::kWritten)
            continue;
        const std::string path = FirstRootNode(row.scope) + std::string(row.path);
        if (row.kind != schema::kList) {
            tree.SetValue(path, row.firstRootValue);
            continue;
        }
        // Keyed as the controller keys the list's leaves: by number, or by the row itself.
        const schema::NodeKey list = schema::FindNode(row.scope, row.path);
        const std::vector<std::string> rows = ListRows(row.firstRootValue);
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::string key = *list.leafNames != '\0' ? list.LeafName(static_cast<int>(i)) : rows[i];
            tree.SetValue(path + "::" + key, rows[i]);
        }
    }
}

// The MIME types and icons, and the controller's text of each table.
void FillTypeTables(CConfigClass& tree)
{
    const std::string mimeTypes = kSettingNode + std::string(schema::kMimeType.path) + "::";
    std::string mimeText;
    for (const auto& [type, extensions] : DefaultMimeTypes()) {
        int n = 0;
        for (const std::string& ext : extensions)
            tree.SetValue(mimeTypes + type + "::" + schema::kMimeType.LeafName(n++), ext);
        mimeText += TableLine(type, extensions);
    }
    const std::string iconTypes = kSettingNode + std::string(schema::kIconType.path) + "::";
    std::string iconText;
    for (const DefaultIcon& icon : DefaultIcons()) {
        const std::string name = "/" + std::string(kIconFolder) + icon.file;
        int n = 0;
        for (const std::string& filter : icon.filters)
            tree.SetValue(iconTypes + name + "::" + schema::kIconType.LeafName(n++), filter);
        if (!icon.filters.empty())
            iconText += TableLine(name, icon.filters);
    }
    tree.SetValue(kSettingNode + std::string(schema::kMimeTypeText.path), mimeText);
    tree.SetValue(kSettingNode + std::string(schema::kIconTypeText.path), iconText);
}

// Writes `bytes` to `path` unless a file is there already; false with `error` set when it
// could not be written.
bool WriteIfMissing(const std::string& path, const std::string& bytes, std::string& error)
{
    std::string existing;
    return platform::ReadWholeFile(path, existing, error) != platform::FileReadResult::Missing ||
           platform::WriteFileAtomically(path, bytes, error);
}

// The index page and the pictures, each only where it is missing.
bool WriteDocuments(const std::string& root, std::string& error)
{
    const std::string documents = root + std::string(kDocumentFolder);
    if (!WriteIfMissing(documents + "index.html", kIndexPage, error))
        return false;
    const std::string icons = documents + kIconFolder;
    if (CreateDirectoryPath(icons) < 0) {
        error = "cannot create " + icons;
        return false;
    }
    for (const DefaultIcon& icon : DefaultIcons()) {
        if (!WriteIfMissing(icons + icon.file, EncodeGif(icon.drawing), error))
            return false;
    }
    return true;
}

// The server's own pages as templates beside each other, for the user to edit: the server
// reads these files before its built-in copies.
bool WriteTemplates(const std::string& root, std::string& error)
{
    const std::string html = root + std::string(kHtmlFolder);
    if (CreateDirectoryPath(html) < 0) {
        error = "cannot create " + html;
        return false;
    }
    const struct {
        const char* file;
        int page;
    } templates[] = {
        {"Response_default.html", kStatusPageResource},
        {"DirectoryList.html", kDirectoryPageResource},
    };
    for (const auto& t : templates) {
        std::string bytes;
        if (!FindBuiltinPage(t.page, bytes) || !WriteIfMissing(html + t.file, bytes, error))
            return false;
    }
    return true;
}

// The addresses a server on these settings answers on, as the server reads them.
void PrintUrls(const std::string& settingsFile)
{
    CConfigClass tree;
    tree.LoadXml(settingsFile);
    const CConfigAccessor settings = tree.GetAccessor("Setting");
    const char* given = std::getenv("TARNWICK_LISTEN_ADDRESS");
    const std::string host = given && *given ? given : kDisplayedHost;
    std::printf("http://%s:%d/\n", host.c_str(), schema::kPort.Read(settings));
    if (schema::kEnableSsl.Read(settings) != 0)
        std::printf("https://%s:%d/\n", host.c_str(), schema::kSslPort.Read(settings));
}

// What the command line asks for.
struct Request {
    bool help = false;
    bool urls = false;
    int port = 0;      // 0: the port stays as it is
    std::string root;  // native
};

// The port of a "--port" argument, or 0 when it is no port number.
int ParsePort(std::string_view text)
{
    int port = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, port);
    if (text.empty() || error != std::errc() || stop != end || port < kLowestPort || port > kHighestPort)
        return 0;
    return port;
}

// Reads the command line into `request`: "" or what is wrong with it.
std::string ParseCommandLine(int argc, char** argv, Request& request)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            request.help = true;
            return "";
        }
        if (arg == "--urls") {
            request.urls = true;
        } else if (arg == "--port") {
            if (++i == argc)
                return "--port needs a port number";
            request.port = ParsePort(argv[i]);
            if (request.port == 0)
                return "not a port number (" + std::to_string(kLowestPort) + "-" + std::to_string(kHighestPort) +
                       "): " + std::string(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + std::string(arg);
        } else if (!request.root.empty()) {
            return "one server root only: " + std::string(arg);
        } else {
            request.root = arg;
        }
    }
    if (request.root.empty())
        return "a server root is needed";
    if (request.urls && request.port != 0)
        return "--urls and --port do not go together";
    return "";
}

void WritePort(CConfigClass& tree, int port)
{
    tree.SetValue(kSettingNode + std::string(schema::kPort.path), std::to_string(port));
}

// Writes the port into the settings file that the root has: false with `error` set when
// the file cannot be read as settings (it is then left as it is) or written.
bool SetPort(const std::string& settings, int port, std::string& error)
{
    CConfigClass tree;
    ConfigFileState state = ConfigFileState::Missing;
    std::string reason;
    if (tree.LoadXml(settings, &state, &reason) != 0 || state != ConfigFileState::Read) {
        error = "the port is not set, the settings are not read: " + reason;
        return false;
    }
    WritePort(tree, port);
    return tree.SaveXml(settings, "", &error) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Request request;
    const std::string wrong = ParseCommandLine(argc, argv, request);
    if (request.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!wrong.empty()) {
        std::fprintf(stderr, "tarnwick-make-root: %s\n%s", wrong.c_str(), kUsage);
        return kUsageExitCode;
    }
    std::string root = platform::Utf8ToCp932(request.root);
    if (root.back() != '/')
        root += '/';
    const std::string settings = root + "Tarnwick.xml";
    if (request.urls) {
        PrintUrls(settings);
        return 0;
    }
    if (CreateDirectoryPath(root + std::string(kDocumentFolder)) < 0 ||
        CreateDirectoryPath(root + std::string(kLogFolder)) < 0) {
        std::fprintf(stderr, "tarnwick-make-root: cannot create folders under %s\n", platform::Cp932ToUtf8(root).c_str());
        return 1;
    }
    std::string existing, error;
    if (!WriteDocuments(root, error) || !WriteTemplates(root, error)) {
        std::fprintf(stderr, "tarnwick-make-root: %s\n", platform::Cp932ToUtf8(error).c_str());
        return 1;
    }
    if (platform::ReadWholeFile(settings, existing, error) != platform::FileReadResult::Missing) {
        // The user's own settings stay, but for the port asked for.
        if (request.port != 0 && !SetPort(settings, request.port, error)) {
            std::fprintf(stderr, "tarnwick-make-root: %s\n", platform::Cp932ToUtf8(error).c_str());
            return 1;
        }
        return 0;
    }
    CConfigClass tree;
    FillTableValues(tree);
    FillTypeTables(tree);
    if (request.port != 0)
        WritePort(tree, request.port);
    if (tree.SaveXml(settings, "") != 0) {
        std::fprintf(stderr, "tarnwick-make-root: cannot write %s\n", platform::Cp932ToUtf8(settings).c_str());
        return 1;
    }
    return 0;
}
