#include "gui/QtText.h"

#include "TextCodec.h"

QString ToQString(const std::string& cp932)
{
    const std::u16string utf16 = platform::Cp932ToUtf16(cp932);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

namespace {

std::u16string Utf16Of(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

}  // namespace

std::string FromQString(const QString& text) { return platform::Utf16ToCp932(Utf16Of(text)); }

bool FitsCp932(const QString& text)
{
    bool substituted = false;
    platform::Utf16ToCp932(Utf16Of(text), &substituted);
    return !substituted;
}
