#pragma once
// The widget edge of the module's text: the server's texts are CP932, and they reach a
// widget only through this, which uses the platform's one CP932 codec.

#include <QString>

#include <string>

QString ToQString(const std::string& cp932);
