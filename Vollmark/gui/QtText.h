#pragma once
// The widget edge of the controller's text: inside, texts are CP932 std::strings as in the
// server; a QString exists only where a widget takes or gives one. Every crossing goes
// through these two, which use the platform's one CP932 codec.

#include <QString>

#include <string>

QString ToQString(const std::string& cp932);
std::string FromQString(const QString& text);
// Whether FromQString keeps every character of the text: false when CP932 lacks one ("€"),
// which FromQString would turn into '?'.
bool FitsCp932(const QString& text);
