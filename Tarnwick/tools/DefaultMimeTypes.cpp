#include "DefaultMimeTypes.h"

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace {

MimeTypeList BuiltinMimeTypes()
{
    return {
        {"text/html", {"html", "htm"}},
        {"text/plain", {"txt"}},
        {"text/css", {"css"}},
        {"text/javascript", {"js", "mjs"}},
        {"application/json", {"json"}},
        {"application/xml", {"xml"}},
        {"application/pdf", {"pdf"}},
        {"application/zip", {"zip"}},
        {"application/wasm", {"wasm"}},
        {"image/png", {"png"}},
        {"image/jpeg", {"jpg", "jpeg"}},
        {"image/gif", {"gif"}},
        {"image/svg+xml", {"svg"}},
        {"image/webp", {"webp"}},
        {"image/vnd.microsoft.icon", {"ico"}},
        {"font/woff", {"woff"}},
        {"font/woff2", {"woff2"}},
        {"audio/mpeg", {"mp3"}},
        {"video/mp4", {"mp4"}},
        {"video/webm", {"webm"}},
    };
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

MimeTypeList ParseMimeTypes(const std::string& text)
{
    MimeTypeList types;
    std::set<std::string> claimed;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type))
            continue;
        std::vector<std::string> extensions;
        while (words >> ext) {
            ext = Lower(ext);
            if (claimed.insert(ext).second)
                extensions.push_back(ext);
        }
        if (!extensions.empty())
            types.emplace_back(type, std::move(extensions));
    }
    return types;
}

MimeTypeList DefaultMimeTypes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        MimeTypeList types = ParseMimeTypes(text.str());
        if (!types.empty())
            return types;
    }
    return BuiltinMimeTypes();
}
