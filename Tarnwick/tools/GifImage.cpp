#include "GifImage.h"

#include <cstdint>

namespace {

// Every palette is padded to 16 entries, so each pixel is a 4-bit index.
constexpr int kPaletteBits = 4;
constexpr unsigned kPaletteSize = 1u << kPaletteBits;
// Codes stay kPaletteBits + 1 wide when a clear code comes before the decoder's table would
// make them wider: after a clear, this many literals add entries below 2^(bits + 1).
constexpr int kLiteralsPerClear = (1 << kPaletteBits) - 2;
// A GIF data sub-block holds at most this many bytes.
constexpr std::size_t kMaxSubBlock = 255;

void PutWord(std::string& out, unsigned value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

// LZW codes written least significant bit first, as the GIF format packs them.
class CodeWriter {
public:
    void Put(unsigned code, int width)
    {
        bits_ |= static_cast<uint32_t>(code) << count_;
        count_ += width;
        while (count_ >= 8) {
            bytes_ += static_cast<char>(bits_ & 0xFF);
            bits_ >>= 8;
            count_ -= 8;
        }
    }
    std::string Finish()
    {
        if (count_ > 0)
            bytes_ += static_cast<char>(bits_ & 0xFF);
        return bytes_;
    }

private:
    uint32_t bits_ = 0;
    int count_ = 0;
    std::string bytes_;
};

}  // namespace

std::string EncodeGif(const GifDrawing& drawing)
{
    if (drawing.rows.empty() || drawing.rows[0].empty() || drawing.keys.size() > kPaletteSize ||
        drawing.colours.size() != drawing.keys.size())
        return "";
    const std::size_t width = drawing.rows[0].size();
    std::string pixels;
    for (const std::string& row : drawing.rows) {
        if (row.size() != width)
            return "";
        for (const char c : row) {
            const std::string::size_type index = drawing.keys.find(c);
            if (index == std::string::npos)
                return "";
            pixels += static_cast<char>(index);
        }
    }

    std::string out = "GIF89a";
    PutWord(out, static_cast<unsigned>(width));
    PutWord(out, static_cast<unsigned>(drawing.rows.size()));
    out += static_cast<char>(0x80 | ((kPaletteBits - 1) << 4) | (kPaletteBits - 1));  // global palette
    out += '\0';                                                                        // background
    out += '\0';                                                                        // square pixels
    for (unsigned i = 0; i < kPaletteSize; ++i) {
        const unsigned rgb = i < drawing.colours.size() ? drawing.colours[i] : 0;
        out += static_cast<char>((rgb >> 16) & 0xFF);
        out += static_cast<char>((rgb >> 8) & 0xFF);
        out += static_cast<char>(rgb & 0xFF);
    }
    const std::string::size_type transparent = drawing.keys.find(' ');
    if (transparent != std::string::npos) {
        // Graphic control extension: no delay, the transparent index.
        out += "\x21\xF9\x04\x01";
        PutWord(out, 0);
        out += static_cast<char>(transparent);
        out += '\0';
    }
    out += ',';
    PutWord(out, 0);
    PutWord(out, 0);
    PutWord(out, static_cast<unsigned>(width));
    PutWord(out, static_cast<unsigned>(drawing.rows.size()));
    out += '\0';  // no local palette, not interlaced

    const unsigned clear = kPaletteSize;
    const unsigned end = clear + 1;
    const int codeWidth = kPaletteBits + 1;
    CodeWriter codes;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % kLiteralsPerClear == 0)
            codes.Put(clear, codeWidth);
        codes.Put(static_cast<unsigned char>(pixels[i]), codeWidth);
    }
    codes.Put(end, codeWidth);
    const std::string data = codes.Finish();

    out += static_cast<char>(kPaletteBits);
    for (std::size_t at = 0; at < data.size(); at += kMaxSubBlock) {
        const std::string block = data.substr(at, kMaxSubBlock);
        out += static_cast<char>(block.size());
        out += block;
    }
    out += '\0';
    out += ';';
    return out;
}
