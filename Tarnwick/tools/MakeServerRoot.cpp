// Prepares a server root for a first run: a settings file with the defaults below (written
// by the settings tree's own saver, so it is exactly what the server reads), a "www" folder
// with a small index page, and the log folder. An existing settings file is left alone.
//
//   tarnwick-make-root [ROOT]      (ROOT defaults to TARNWICK_ROOT, else the program's folder)

#include "ConfigClass.h"
#include "FileIo.h"
#include "FilePath.h"
#include "ModulePath.h"
#include "TextCodec.h"

#include <cstdio>
#include <string>

namespace {

// A first run answers on this port, on loopback only unless the caller says otherwise.
constexpr const char* kDefaultPort = "8080";

const char kIndexPage[] =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">\r\n"
    "<title>Tarnwick</title>\r\n</head>\r\n<body>\r\n<h1>Tarnwick</h1>\r\n"
    "<p>サーバは正常に作動中です。</p>\r\n</body>\r\n</html>\r\n";

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
    const char* const types[][2] = {{"text/html", "html"}, {"text/html", "htm"}, {"text/plain", "txt"},
                                    {"text/css", "css"},   {"image/png", "png"}, {"image/jpeg", "jpg"},
                                    {"image/gif", "gif"},  {"application/javascript", "js"}};
    int n = 0;
    for (const auto& type : types) {
        char key[32];
        std::snprintf(key, sizeof key, "Ext_%02d", n++);
        tree.SetValue(std::string("Setting::MimeType::") + type[0] + "::" + key, type[1]);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string root = argc > 1 ? platform::Utf8ToCp932(argv[1]) : platform::GetModulePath(1);
    if (!root.empty() && root.back() != '/')
        root += '/';
    if (CreateDirectoryPath(root + "www/") < 0 || CreateDirectoryPath(root + "Logs/") < 0) {
        std::fprintf(stderr, "tarnwick-make-root: cannot create folders under %s\n", platform::Cp932ToUtf8(root).c_str());
        return 1;
    }
    std::string existing, error;
    if (platform::ReadWholeFile(root + "www/index.html", existing, error) == platform::FileReadResult::Missing &&
        !platform::WriteFileAtomically(root + "www/index.html", kIndexPage, error)) {
        std::fprintf(stderr, "tarnwick-make-root: %s\n", platform::Cp932ToUtf8(error).c_str());
        return 1;
    }
    const std::string settings = root + "Tarnwick.xml";
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
