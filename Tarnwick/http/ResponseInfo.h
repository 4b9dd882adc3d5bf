#pragma once
// The answer to one request as its ResponseInfo node holds it: the status code and text,
// the header lines in the order they were first set, and the header lines a CGI program
// wrote. Every response made for the request writes the same one (a status page named in
// another response's place finds what that response set, as both wrote one node); the
// request's record shows it in the node, and the header block is built from it.
// Changed by the request's own thread alone; the changes take the lock that GuardWith
// names, which readers of the node in other threads take.

#include "http/FieldList.h"

#include "thread/SpinLock.h"

#include <cstdint>
#include <string>
#include <string_view>

class CResponseInfo {
public:
    // Every change below holds `lock` (not owned) from now on; null: none.
    void GuardWith(CSpinLock* lock) { guard_ = lock; }

    // No answer yet, as before the node exists. The storage is kept.
    void Clear();
    bool Exists() const { return exists_; }
    // 500 and "500 Internal Server Error" while no code was set, as the header block reads them.
    int GetCode() const { return codeTextLength_ > 0 ? code_ : 500; }
    const std::string& GetText() const;
    // ResponseCode := code and ResponseText := GetStatusText(code).
    void SetCode(int code);

    const CFieldList& GetHeaders() const { return headers_; }
    // The header named exactly `name` takes `value`; a new one goes after the others.
    void SetHeader(std::string_view name, std::string_view value);
    // Content-Length := `length` in decimal.
    void SetContentLength(int64_t length);
    // Whether the node's Options node exists: a header was set, or a reader made it.
    bool HasHeaderNode() const { return headerNode_; }
    void MakeHeaderNode();

    bool HasCgiHeader() const { return hasCgiHeader_; }
    const std::string& GetCgiHeader() const { return cgiHeader_; }
    // The CGIHeader leaf: header lines of a CGI program, each ending in CR LF.
    void SetCgiHeader(std::string_view lines);

    // RFC 9112 9.6: an answer after which the server closes says so, rather than offering
    // a connection the client would reuse in vain: Connection becomes "Close" and
    // Keep-Alive goes.
    void AnnounceClose();

    // Appends the header block: the status line ("HTTP/1.1 " and the text), the headers
    // in their order, the CGI header lines, and the empty line. A CR, LF or NUL inside a
    // header goes out as a blank, so no value can start a header line of its own; RFC 9110
    // 8.6: a 1xx, 204 or 304 answer carries no Content-Length.
    void AppendHeaderText(std::string& out) const;

    // The node's leaves in stored order, as visit(key, value): ResponseCode and
    // ResponseText once a code was set, and CGIHeader when set.
    template <typename Visit>
    void VisitLeaves(Visit visit) const
    {
        if (codeTextLength_ > 0) {
            visit(std::string_view("ResponseCode"), std::string_view(codeText_, codeTextLength_));
            visit(std::string_view("ResponseText"), std::string_view(text_));
        }
        if (hasCgiHeader_)
            visit(std::string_view("CGIHeader"), std::string_view(cgiHeader_));
    }

private:
    // Holds the guard, when there is one, for one change.
    class ChangeLock {
    public:
        explicit ChangeLock(CSpinLock* lock) : lock_(lock)
        {
            if (lock_)
                lock_->lock();
        }
        ~ChangeLock()
        {
            if (lock_)
                lock_->unlock();
        }
        ChangeLock(const ChangeLock&) = delete;
        ChangeLock& operator=(const ChangeLock&) = delete;

    private:
        CSpinLock* lock_;
    };

    CSpinLock* guard_ = nullptr;
    bool exists_ = false;
    int code_ = 0;
    char codeText_[12] = {};
    std::size_t codeTextLength_ = 0;
    std::string text_;
    CFieldList headers_;
    bool headerNode_ = false;
    bool hasCgiHeader_ = false;
    std::string cgiHeader_;
};

// "404 Not Found"; "%d UNKNOWN" for a code without a text.
std::string GetStatusText(int code);
// The text of a code that has one; null for any other.
const char* FindStatusText(int code);
