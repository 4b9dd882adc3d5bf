#pragma once
// A chunked request body (RFC 9112 7.1) decoded as its bytes come: the framing is read a
// byte at a time into a few counters, so no line of it need be whole at once, and the chunk
// data is handed back in place, never held. Chunk extensions are ignored (7.1.1) and the
// trailer section is read and dropped (7.1.2). Protocol logic only: the caller brings the
// bytes.

#include "http/RequestHeader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

class CChunkedDecoder {
public:
    // A chunk size of more hexadecimal digits is refused: 16 fill 64 bits.
    static constexpr int kMaxSizeDigits = 16;
    // The extensions of one chunk line (blanks included) are ignored; a client that sends
    // more than this on one line makes the server read without progress.
    static constexpr int kMaxExtensionBytes = 4096;
    // The dropped trailer section, with the empty line that ends it, may take as many
    // bytes as a request header.
    static constexpr int64_t kMaxTrailerBytes = kMaxRequestHeaderBytes;

    // Receives each run of chunk data, in order; the view lives only during the call.
    using DataSink = std::function<void(std::string_view data)>;

    // Reads `input`, the body's next bytes, and hands the chunk data among them to `onData`
    // (which may be empty). Returns the count read: all of `input`, or fewer when the body
    // ends within it (what follows is not the body's) or when the framing fails at a byte
    // (that byte is not read). After the end or a failure nothing more is read. Refused as
    // a failure: a chunk size that is not hexadecimal or has more than kMaxSizeDigits
    // digits, anything but blanks or extensions after it, a line end other than CR LF (a
    // bare LF or CR), a control byte in an extension, extensions above kMaxExtensionBytes,
    // a chunk not followed by CR LF, a trailer section above kMaxTrailerBytes.
    std::size_t Decode(std::string_view input, const DataSink& onData);

    // The last chunk and the trailer section have been read.
    bool IsDone() const { return state_ == State::Done; }
    bool HasFailed() const { return state_ == State::Failed; }
    // The chunk data bytes read so far.
    int64_t GetDecodedLength() const { return decoded_; }

private:
    enum class State {
        Size,          // the chunk size's hexadecimal digits
        SizeBlank,     // blanks after them, before an extension or the line end
        Extension,     // an extension, up to the line end
        SizeLf,        // the LF of the chunk-size line
        Data,          // the chunk's data
        DataCr,        // the CR after the data
        DataLf,        // the LF after the data
        TrailerStart,  // the start of a trailer line, or of the empty line that ends the body
        TrailerLine,   // a trailer line
        TrailerLf,     // the LF of a trailer line
        EndLf,         // the LF of the empty line that ends the body
        Done,
        Failed,
    };
    // Reads one framing byte; false when it fails the framing.
    bool Step(char c);

    State state_ = State::Size;
    int sizeDigits_ = 0;
    uint64_t chunkLeft_ = 0;  // the chunk size while its digits come, then its data bytes to read
    int extensionBytes_ = 0;
    int64_t trailerBytes_ = 0;
    int64_t decoded_ = 0;
};
