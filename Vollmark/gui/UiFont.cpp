#include "gui/UiFont.h"

QFont UiFont(int pixelHeight, bool bold)
{
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    // Where the face is missing, any sans face with Japanese glyphs beats a serif one.
    font.setStyleHint(QFont::SansSerif);
    return font;
}
