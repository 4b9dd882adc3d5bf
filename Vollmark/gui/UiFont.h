#pragma once
// The controller's one typeface: the Japanese UI face (Noto Sans CJK JP, which Debian
// packages) at the pixel heights the windows were laid out for, so Japanese text never
// falls back to boxes or to a face of another height.

#include <QFont>

QFont UiFont(int pixelHeight, bool bold = false);
