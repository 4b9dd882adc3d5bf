#include "DebugText.h"

#include "TextCodec.h"

QString ToQString(const std::string& cp932)
{
    const std::u16string utf16 = platform::Cp932ToUtf16(cp932);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}
