#pragma once
// A small picture encoded as a GIF89a file, for the pictures a default server root ships.

#include <string>
#include <vector>

// A palette picture drawn as text: each row a string of the same length, each character an
// index into `colours` by its position in `keys`. The key ' ' is transparent.
struct GifDrawing {
    std::string keys;               // one character per palette entry, at most 16
    std::vector<unsigned> colours;  // 0xRRGGBB for each key
    std::vector<std::string> rows;
};

// The GIF file's bytes; an empty string when the drawing is malformed (no rows, rows of
// different lengths, a character that is not a key, more than 16 keys).
std::string EncodeGif(const GifDrawing& drawing);
