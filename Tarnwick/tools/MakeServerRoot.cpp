// Prepares a server root for a first run: a settings file with the first-root values of the
// settings table (written by the settings tree's own saver, so it is exactly what the
// server reads), a "www" folder with a small index page and the pictures index pages show,
// the "Html" folder with the server's built-in page templates as files to edit, and the
// log folder. Existing files are left alone.
//
//   tarnwick-make-root [ROOT]         (ROOT defaults to TARNWICK_ROOT, else the program's folder)
//   tarnwick-make-root --urls [ROOT]  prints the addresses the root's settings serve on, one a
//                                     line: http, and https when HTTPS is on
//
// The host in the addresses is TARNWICK_LISTEN_ADDRESS, or 127.0.0.1 when it is unset.

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "DefaultIcons.h"
#include "DefaultMimeTypes.h"
#include "FileIo.h"
#include "FilePath.h"
#include "ModulePath.h"
#include "SettingsSchema.h"
#include "TextCodec.h"
#include "http/BuiltinPages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

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

}  // namespace

int main(int argc, char** argv)
{
    const bool urls = argc > 1 && std::strcmp(argv[1], "--urls") == 0;
    const int rootArgument = urls ? 2 : 1;
    std::string root = argc > rootArgument ? platform::Utf8ToCp932(argv[rootArgument]) : platform::GetModulePath(1);
    if (!root.empty() && root.back() != '/')
        root += '/';
    const std::string settings = root + "Tarnwick.xml";
    if (urls) {
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
    if (platform::ReadWholeFile(settings, existing, error) != platform::FileReadResult::Missing)
        return 0;  // the user's own settings stay
    CConfigClass tree;
    FillTableValues(tree);
    FillTypeTables(tree);
    if (tree.SaveXml(settings, "") != 0) {
        std::fprintf(stderr, "tarnwick-make-root: cannot write %s\n", platform::Cp932ToUtf8(settings).c_str());
        return 1;
    }
    return 0;
}
