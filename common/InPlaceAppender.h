#pragma once
// Appending a text made of parts whose lengths are known first: the whole length is added
// at once and the parts copied into it, so that a text made for every request (a header
// block, a log line) grows once, or not at all where its storage is reused, instead of
// once per part.

#include <cstring>
#include <string>
#include <string_view>

class CInPlaceAppender {
public:
    // Adds `size` bytes to `out`, which Put then writes in order: the parts must add up to
    // `size`. `out` must not change while the appender writes.
    CInPlaceAppender(std::string& out, std::size_t size)
    {
        const std::size_t start = out.size();
        out.resize(start + size);
        at_ = out.data() + start;
    }

    // Writes `part` next; gives where it went.
    char* Put(std::string_view part)
    {
        char* const from = at_;
        if (!part.empty()) // an empty view may hold no address, which memcpy must not get
            std::memcpy(at_, part.data(), part.size());
        at_ += part.size();
        return from;
    }

private:
    char* at_;
};
