#pragma once
// A picture of what a person would see, for a reviewer: shows the widget (laid out and
// painted offscreen) and writes <build>/screenshots/<name>.png.

#include <string>

class QWidget;

// Fails the current test when the picture cannot be written.
void SaveScreenshot(QWidget& widget, const std::string& name);
