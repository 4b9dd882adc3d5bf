#include "DefaultIcons.h"

#include <cstddef>
#include <utility>

namespace {

// Keys shared by every drawing: transparent, outline, paper, shade, the icon's own colour.
const char kKeys[] = " #.gc";
// Black, white and mid grey: the colours every icon shares, readable on any page background.
constexpr unsigned kOutline = 0x000000;
constexpr unsigned kPaper = 0xFFFFFF;
constexpr unsigned kShade = 0x808080;
// Pictures are square, of the size an index line's text has.
constexpr std::size_t kIconSize = 16;

GifDrawing Drawing(unsigned colour, std::vector<std::string> rows)
{
    // The transparent entry's colour shows only where transparency is not honoured.
    return GifDrawing{kKeys, {kPaper, kOutline, kPaper, kShade, colour}, std::move(rows)};
}

// A sheet with a folded corner and an 8 x 8 mark in the middle.
GifDrawing Page(unsigned colour, const std::vector<std::string>& mark)
{
    std::vector<std::string> rows = {
        "  #########     ",
        "  #.......##    ",
        "  #.......#.#   ",
        "  #.......####  ",
    };
    for (const std::string& line : mark)
        rows.push_back("  #." + line + ".#  ");
    rows.insert(rows.end(), {
                                "  #..........#  ",
                                "  #..........#  ",
                                "  #..........#g ",
                                "  ############g ",
                            });
    return Drawing(colour, std::move(rows));
}

GifDrawing Folder(unsigned colour)
{
    return Drawing(colour, {
                               "                ",
                               "                ",
                               " #####          ",
                               "#ccccc#         ",
                               "#cccccc######## ",
                               "#cccccccccccccc#",
                               "#c.............#",
                               "#c.#############",
                               "#c#cccccccccccc#",
                               "#c#cccccccccccc#",
                               "#c#cccccccccccc#",
                               "#c#cccccccccccc#",
                               "#c#cccccccccccc#",
                               "#ccccccccccccccg",
                               "################",
                               " gggggggggggggg ",
                           });
}

// The 8 x 8 marks of the file kinds, drawn on a sheet.
const std::vector<std::string> kImageMark = {
    "........", "......c.", ".....ccc", "......c.", "..c.....", ".ccc..c.", "cccccccc", "cccccccc",
};
const std::vector<std::string> kSoundMark = {
    "...ccccc", "...c...c", "...c...c", "...c...c", "...c...c", ".ccc.ccc", "cccccccc", ".cc..cc.",
};
const std::vector<std::string> kMovieMark = {
    "c.cccc.c", "cccccccc", "c......c", "c......c", "c......c", "c......c", "cccccccc", "c.cccc.c",
};
const std::vector<std::string> kArchiveMark = {
    "...cc...", "..cc....", "...cc...", "..cc....", "...cc...", "..cccc..", "..c..c..", "..cccc..",
};
const std::vector<std::string> kTextMark = {
    "cccccc..", "........", "ccccccc.", "........", "ccccc...", "........", "cccccc..", "........",
};
const std::vector<std::string> kUnknownMark = {
    "..cccc..", ".cc..cc.", ".....cc.", "....cc..", "...cc...", "...cc...", "........", "...cc...",
};

// An arrow up and back, to the folder above.
const std::vector<std::string> kBackArrow = {
    "                ", "      #         ", "     #c#        ", "    #ccc#       ",
    "   #ccccc#      ", "  #ccccccc#     ", " #####ccc#####  ", "     #ccc#      ",
    "     #ccc#      ", "     #ccc#      ", "     #cccc######", "     #ccccccccc#",
    "     #ccccccccc#", "     ###########", "                ", "                ",
};

}  // namespace

std::vector<DefaultIcon> DefaultIcons()
{
    const std::vector<std::string> empty(kIconSize, std::string(kIconSize, ' '));
    return {
        // The heading row of the built-in index page keeps its column with this.
        {"blank.gif", {}, Drawing(0, empty)},
        {"back.gif", {".."}, Drawing(0x2060C0, kBackArrow)},
        {"folder.gif", {"^^DIRECTORY^^"}, Folder(0xF0C040)},
        {"link.gif", {"^^LINK^^"}, Folder(0x60A0E0)},
        {"image.gif", {"image/*"}, Page(0x20A040, kImageMark)},
        {"sound.gif", {"audio/*"}, Page(0xA040C0, kSoundMark)},
        {"movie.gif", {"video/*"}, Page(0x404040, kMovieMark)},
        {"compressed.gif",
         {".zip", ".gz", ".tgz", ".bz2", ".xz", ".zst", ".7z", ".rar", ".lzh", ".tar"},
         Page(0xC08020, kArchiveMark)},
        {"text.gif", {"text/*", "application/json", "application/xml"}, Page(0x303030, kTextMark)},
        {"unknown.gif", {"*"}, Page(0xC03030, kUnknownMark)},
    };
}
