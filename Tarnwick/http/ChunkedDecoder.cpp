#include "http/ChunkedDecoder.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace {

// The value of a hexadecimal digit (RFC 5234 HEXDIG, either case); -1 for any other byte.
int HexValue(char c)
{
    int value = -1;
    return std::from_chars(&c, &c + 1, value, 16).ec == std::errc() ? value : -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// RFC 9110 5.6.2, 5.6.4: an extension is tokens and quoted strings, which hold no control
// byte but HTAB.
bool IsControl(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

}  // namespace

std::size_t CChunkedDecoder::Decode(std::string_view input, const DataSink& onData)
{
    std::size_t taken = 0;
    while (taken < input.size() && state_ != State::Done && state_ != State::Failed) {
        if (state_ == State::Data) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(chunkLeft_, input.size() - taken));
            if (onData)
                onData(input.substr(taken, n));
            taken += n;
            decoded_ += static_cast<int64_t>(n);
            chunkLeft_ -= n;
            if (chunkLeft_ == 0)
                state_ = State::DataCr;
            continue;
        }
        if (!Step(input[taken])) {
            state_ = State::Failed;
            break;
        }
        ++taken;
    }
    return taken;
}

bool CChunkedDecoder::Step(char c)
{
    switch (state_) {
    case State::Size: {
        const int digit = HexValue(c);
        if (digit >= 0) {
            if (++sizeDigits_ > kMaxSizeDigits)
                return false;
            chunkLeft_ = chunkLeft_ * 16 + static_cast<uint64_t>(digit);
            return true;
        }
        if (sizeDigits_ == 0)
            return false;
        // RFC 9112 7.1.1: chunk-ext = *( BWS ";" BWS ext-name [ BWS "=" BWS ext-val ] )
        if (IsBlank(c) || c == ';') {
            extensionBytes_ = 1;
            state_ = c == ';' ? State::Extension : State::SizeBlank;
            return true;
        }
        if (c != '\r')
            return false;
        state_ = State::SizeLf;
        return true;
    }
    case State::SizeBlank:
    case State::Extension:
        if (c == '\r') {
            state_ = State::SizeLf;
            return true;
        }
        if (state_ == State::SizeBlank && c == ';')
            state_ = State::Extension;
        else if (state_ == State::SizeBlank ? !IsBlank(c) : IsControl(c))
            return false;
        return ++extensionBytes_ <= kMaxExtensionBytes;
    case State::SizeLf:
        if (c != '\n')
            return false;
        state_ = chunkLeft_ == 0 ? State::TrailerStart : State::Data;
        return true;
    case State::DataCr:
        state_ = State::DataLf;
        return c == '\r';
    case State::DataLf:
        sizeDigits_ = 0;
        state_ = State::Size;
        return c == '\n';
    case State::TrailerStart:
    case State::TrailerLine:
        if (++trailerBytes_ > kMaxTrailerBytes || c == '\n' || c == '\0')
            return false;
        if (c == '\r')
            state_ = state_ == State::TrailerStart ? State::EndLf : State::TrailerLf;
        else
            state_ = State::TrailerLine;
        return true;
    case State::TrailerLf:
    case State::EndLf:
        if (++trailerBytes_ > kMaxTrailerBytes || c != '\n')
            return false;
        state_ = state_ == State::TrailerLf ? State::TrailerStart : State::Done;
        return true;
    case State::Data:
    case State::Done:
    case State::Failed:
        break;
    }
    return false;
}
