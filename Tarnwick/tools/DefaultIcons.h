#pragma once
// The pictures of a default server root: the blank picture the built-in index page puts in
// its heading row, and one icon for each row kind of a directory index page (parent link,
// folder, path entry) and for common kinds of file, with the IconType filters that pick it.

#include "GifImage.h"

#include <string>
#include <vector>

struct DefaultIcon {
    std::string file;                  // the file name inside the icon folder
    std::vector<std::string> filters;  // IconType filters; none for a picture no row uses
    GifDrawing drawing;
};

// Where the pictures go below the document folder, and so the start of their URL path.
constexpr const char* kIconFolder = "icons/";

// In the order the IconType table must list them: the first icon whose filter matches is
// taken, so the catch-all comes last.
std::vector<DefaultIcon> DefaultIcons();
