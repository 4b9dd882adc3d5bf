#include "http/ChunkedDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// What one run of the decoder over some bytes gave.
struct Outcome {
    std::string data;  // the chunk data, joined
    size_t taken = 0;  // the bytes read
    bool done = false;
    bool failed = false;
};

// Feeds `bytes` in pieces of `piece` bytes (all at once for 0), as they might come off a
// socket; stops at the end of the body or a failure, as a caller would.
Outcome Decode(const std::string& bytes, size_t piece = 0)
{
    CChunkedDecoder decoder;
    Outcome outcome;
    const size_t step = piece == 0 ? bytes.size() : piece;
    for (size_t at = 0; at < bytes.size() && !decoder.IsDone() && !decoder.HasFailed(); at += step) {
        const std::string_view part = std::string_view(bytes).substr(at, step);
        const size_t n = decoder.Decode(part, [&](std::string_view data) { outcome.data.append(data); });
        outcome.taken += n;
        if (n < part.size())
            break;
    }
    outcome.done = decoder.IsDone();
    outcome.failed = decoder.HasFailed();
    EXPECT_EQ(decoder.GetDecodedLength(), static_cast<int64_t>(outcome.data.size()));
    return outcome;
}

TEST(ChunkedDecoderTest, WellFormedBodiesGiveTheirDataHoweverTheBytesAreSplit)
{
    const struct {
        const char* description;
        std::string body;
        std::string data;
    } cases[] = {
        {"no chunk at all", "0\r\n\r\n", ""},
        {"one chunk", "5\r\nhello\r\n0\r\n\r\n", "hello"},
        {"two chunks", "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", "abcde"},
        {"upper- and lower-case digits", "A\r\n0123456789\r\na\r\nabcdefghij\r\n0\r\n\r\n", "0123456789abcdefghij"},
        {"leading zeros", "0005\r\nhello\r\n000\r\n\r\n", "hello"},
        {"16 digits", "0000000000000003\r\nabc\r\n0\r\n\r\n", "abc"},
        {"an extension", "5;name=value\r\nhello\r\n0;last\r\n\r\n", "hello"},
        {"a quoted extension", "5;n=\"a b;c\"\r\nhello\r\n0\r\n\r\n", "hello"},
        {"blanks before an extension", "5 \t;n\r\nhello\r\n0\r\n\r\n", "hello"},
        {"blanks before the line end", "5  \r\nhello\r\n0\r\n\r\n", "hello"},
        {"extensions of the largest length",
         "5;" + std::string(CChunkedDecoder::kMaxExtensionBytes - 1, 'e') + "\r\nhello\r\n0\r\n\r\n", "hello"},
        {"data holding CR LF and what looks like framing", "9\r\n0\r\n\r\nGET \r\n0\r\n\r\n", "0\r\n\r\nGET "},
        {"a trailer field", "5\r\nhello\r\n0\r\nX-Check: 1\r\n\r\n", "hello"},
        {"two trailer fields", "5\r\nhello\r\n0\r\nA: 1\r\nB: 2\r\n\r\n", "hello"},
        {"a trailer section of the largest size",
         "1\r\nx\r\n0\r\n" + std::string(CChunkedDecoder::kMaxTrailerBytes - 4, 't') + "\r\n\r\n", "x"},
    };
    for (const auto& c : cases) {
        for (const size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{7}}) {
            SCOPED_TRACE(std::string(c.description) + ", pieces of " + std::to_string(piece));
            const Outcome outcome = Decode(c.body, piece);
            EXPECT_TRUE(outcome.done);
            EXPECT_FALSE(outcome.failed);
            EXPECT_EQ(outcome.taken, c.body.size());
            EXPECT_EQ(outcome.data, c.data);
        }
    }
}

// RFC 9112 7.1: chunk-size is 1*HEXDIG, every line ends in CR LF.
TEST(ChunkedDecoderTest, MalformedFramingFailsAtItsFirstWrongByte)
{
    const struct {
        const char* description;
        std::string body;
        size_t taken;  // the bytes read before the failing one
    } cases[] = {
        {"no size", "\r\nhello\r\n0\r\n\r\n", 0},
        {"an extension without a size", ";x\r\n", 0},
        {"a size that is not hexadecimal", "5x\r\nhello\r\n0\r\n\r\n", 1},
        {"a sign", "+5\r\nhello\r\n", 0},
        {"a hexadecimal prefix", "0x5\r\nhello\r\n", 1},
        {"17 digits", "00000000000000005\r\nhello\r\n", 16},
        {"a blank inside the size", "5 5\r\nhello\r\n", 2},
        {"a bare LF after the size", "5\nhello\r\n0\r\n\r\n", 1},
        {"a bare CR after the size", "5\rhello\r\n0\r\n\r\n", 2},
        {"a bare LF after an extension", "5;x\nhello\r\n", 3},
        {"a control byte in an extension", std::string("5;a\0b\r\nhello\r\n", 14), 3},
        {"extensions one byte too long", "5;" + std::string(CChunkedDecoder::kMaxExtensionBytes, 'e') + "\r\n",
         CChunkedDecoder::kMaxExtensionBytes + 1},
        {"blanks one byte too long", "5" + std::string(CChunkedDecoder::kMaxExtensionBytes + 1, ' ') + "\r\n",
         CChunkedDecoder::kMaxExtensionBytes + 1},
        {"data longer than its size", "3\r\nhello\r\n0\r\n\r\n", 6},
        {"data ended by a bare LF", "5\r\nhello\n0\r\n\r\n", 8},
        {"a bare LF in a trailer", "0\r\nX: 1\n\r\n", 7},
        {"a bare LF ending the body", "0\r\n\n", 3},
        {"a trailer section one byte too large",
         "0\r\n" + std::string(CChunkedDecoder::kMaxTrailerBytes - 3, 't') + "\r\n\r\n",
         3 + CChunkedDecoder::kMaxTrailerBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Outcome outcome = Decode(c.body);
        EXPECT_TRUE(outcome.failed);
        EXPECT_FALSE(outcome.done);
        EXPECT_EQ(outcome.taken, c.taken);
        // Nothing more is read once the framing failed.
        CChunkedDecoder decoder;
        decoder.Decode(c.body, nullptr);
        EXPECT_EQ(decoder.Decode("0\r\n\r\n", nullptr), 0u);
    }
}

TEST(ChunkedDecoderTest, BytesAfterTheBodyAreLeftForTheNextRequest)
{
    const std::string body = "5\r\nhello\r\n0\r\n\r\n";
    const std::string next = "GET / HTTP/1.1\r\n\r\n";
    CChunkedDecoder decoder;
    std::string data;
    EXPECT_EQ(decoder.Decode(body + next, [&](std::string_view run) { data.append(run); }), body.size());
    EXPECT_TRUE(decoder.IsDone());
    EXPECT_EQ(data, "hello");
    EXPECT_EQ(decoder.Decode(next, nullptr), 0u);
}

TEST(ChunkedDecoderTest, AnUnfinishedBodyIsNeitherDoneNorFailed)
{
    const char* const beginnings[] = {"", "5", "5;ext", "5\r", "5\r\n", "5\r\nhel", "5\r\nhello", "5\r\nhello\r",
                                      "5\r\nhello\r\n", "5\r\nhello\r\n0\r\n", "5\r\nhello\r\n0\r\nX: 1\r\n",
                                      "5\r\nhello\r\n0\r\n\r"};
    for (const char* beginning : beginnings) {
        SCOPED_TRACE(beginning);
        const Outcome outcome = Decode(beginning);
        EXPECT_FALSE(outcome.done);
        EXPECT_FALSE(outcome.failed);
        EXPECT_EQ(outcome.taken, std::string(beginning).size());
    }
}

// A chunk's data comes in place, one run per chunk within the bytes given.
TEST(ChunkedDecoderTest, DataIsHandedOutInPlaceChunkByChunk)
{
    const std::string body = "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n";
    CChunkedDecoder decoder;
    std::vector<std::string_view> runs;
    decoder.Decode(body, [&](std::string_view run) { runs.push_back(run); });
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].data(), body.data() + 3);
    EXPECT_EQ(runs[0], "abc");
    EXPECT_EQ(runs[1], "defg");
}

}  // namespace
