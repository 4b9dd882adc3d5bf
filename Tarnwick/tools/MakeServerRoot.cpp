// Prepares a server root for a first run: a settings file with the defaults below (written
// by the settings tree's own saver, so it is exactly what the server reads), a "www" folder
// with a small index page and the pictures index pages show, the "Html" folder with the
// server's built-in page templates as files to edit, and the log folder. Existing files are
// left alone.
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
#include "TextCodec.h"
#include "http/BuiltinPages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A first run answers on this port, on loopback only unless the caller says otherwise.
constexpr const char* kDefaultPort = "8080";

const char kIndexPage[] =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
    "<title>Tarnwick</title>\r\n</head>\r\n<body>\r\n<h1>Tarnwick</h1>\r\n"
    "<p>サーバは正常に作動中です。</p>\r\n</body>\r\n</html>\r\n";

// The server's own defaults for ports that the settings do not name.
constexpr int kServerDefaultPort = 80;
constexpr int kServerDefaultSslPort = 443;
// A server listening on every address is reached on loopback from this machine.
constexpr const char* kDisplayedHost = "127.0.0.1";
// The server's default template folder, %ServerRoot%Html/.
constexpr const char* kHtmlFolder = "Html/";

// "Ext_00", "Ext_01", ...: the numbered leaf names the controller writes too.
std::string NumberedKey(const char* prefix, int n)
{
    char key[32];
    std::snprintf(key, sizeof key, "%s%02d", prefix, n);
    return key;
}

// The controller edits a table as this text and rebuilds the table from it, so it must
// hold every entry written: a line per type or icon, its extensions or filters after it.
std::string TableLine(const std::string& name, const std::vector<std::string>& values)
{
    std::string line = name;
    for (const std::string& value : values)
        line += ' ' + value;
    return line + "\r\n";
}

void FillDefaults(CConfigClass& tree)
{
    tree.SetValue("Setting::Basic::Port", kDefaultPort);
    tree.SetValue("Setting::Basic::EnableKeepAlive", "1");
    tree.SetValue("Setting::Index::index.html", "index.html");
    tree.SetValue("Setting::Index::index.htm", "index.htm");
    const std::string entry = "Setting::Path::Path_0::";
    tree.SetValue(entry + "Info", "Tarnwick");
    tree.SetValue(entry + "VirtualHost", "*");
    tree.SetValue(entry + "ServerPath", "/");
    tree.SetValue(entry + "LocalPath", "%ServerRoot%www/");
    tree.SetValue(entry + "Options::EnableIndex", "1");
    std::string mimeText;
    for (const auto& [type, extensions] : DefaultMimeTypes()) {
        int n = 0;
        for (const std::string& ext : extensions)
            tree.SetValue("Setting::MimeType::" + type + "::" + NumberedKey("Ext_", n++), ext);
        mimeText += TableLine(type, extensions);
    }
    std::string iconText;
    for (const DefaultIcon& icon : DefaultIcons()) {
        const std::string name = "/" + std::string(kIconFolder) + icon.file;
        int n = 0;
        for (const std::string& filter : icon.filters)
            tree.SetValue("Setting::IconType::" + name + "::" + NumberedKey("Filter_", n++), filter);
        if (!icon.filters.empty())
            iconText += TableLine(name, icon.filters);
    }
    tree.SetValue("Setting::MimeType::Text", mimeText);
    tree.SetValue("Setting::IconType::Text", iconText);
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
    if (!WriteIfMissing(root + "www/index.html", kIndexPage, error))
        return false;
    const std::string icons = root + "www/" + kIconFolder;
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
    const std::string html = root + kHtmlFolder;
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
    std::printf("http://%s:%d/\n", host.c_str(), settings.GetInt("Basic::Port", kServerDefaultPort));
    if (settings.GetInt("Basic::EnableSSL", 0) != 0)
        std::printf("https://%s:%d/\n", host.c_str(), settings.GetInt("SSL::Port", kServerDefaultSslPort));
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
    if (CreateDirectoryPath(root + "www/") < 0 || CreateDirectoryPath(root + "Logs/") < 0) {
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
    FillDefaults(tree);
    if (tree.SaveXml(settings, "") != 0) {
        std::fprintf(stderr, "tarnwick-make-root: cannot write %s\n", platform::Cp932ToUtf8(settings).c_str());
        return 1;
    }
    return 0;
}
