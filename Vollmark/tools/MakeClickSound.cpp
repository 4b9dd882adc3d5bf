// Writes the controller's click sound: a short decaying tone as a 16-bit mono WAV file.
//     vollmark-make-click-sound OUTPUT

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSampleRate = 22050;
constexpr int kSamples = kSampleRate * 40 / 1000;  // 40 ms: a click, not a beep
constexpr double kFrequency = 1800.0;
constexpr double kDecaySamples = 120.0;
constexpr double kAmplitude = 12000.0;  // well below full scale, so it never startles

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

void PutTag(std::vector<uint8_t>& out, const char (&tag)[5])
{
    // Spelled as bytes: the build turns narrow literals into CP932, and these must be ASCII.
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(tag[i]));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vollmark-make-click-sound OUTPUT\n");
        return 2;
    }
    const double pi = std::acos(-1.0);
    std::vector<uint8_t> wav;
    const uint32_t dataBytes = kSamples * 2;
    PutTag(wav, "RIFF");
    Put32(wav, 36 + dataBytes);
    PutTag(wav, "WAVE");
    PutTag(wav, "fmt ");
    Put32(wav, 16);
    Put16(wav, 1);  // PCM
    Put16(wav, 1);  // mono
    Put32(wav, kSampleRate);
    Put32(wav, kSampleRate * 2);
    Put16(wav, 2);
    Put16(wav, 16);
    PutTag(wav, "data");
    Put32(wav, dataBytes);
    for (int i = 0; i < kSamples; ++i) {
        const double s = kAmplitude * std::sin(2 * pi * kFrequency * i / kSampleRate) * std::exp(-i / kDecaySamples);
        Put16(wav, static_cast<uint16_t>(static_cast<int16_t>(std::lround(s))));
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(wav.data(), 1, wav.size(), f) != wav.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
