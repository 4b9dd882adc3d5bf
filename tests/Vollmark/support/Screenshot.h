#pragma once
// A picture of what a person would see, for a reviewer: shows the widget (laid out and
// painted offscreen) and writes <build>/screenshots/<name>.png.

#include <string>

class QWidget;

// Fails the current test when the picture cannot be written.
void SaveScreenshot(QWidget& widget, const std::string& name);

// The same for the whole primary screen, every window where it was placed: for tests of
// where windows open.
void SaveScreenPicture(const std::string& name);
