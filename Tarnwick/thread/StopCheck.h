#pragma once
// What long-running work polls to learn that it should give up, and why: in the server,
// the connection it works for (a time-out, the peer gone, a stop request). Work that runs
// below the connection (a child program) sees only this.

#include <string>

class CStopCheck {
public:
    virtual ~CStopCheck() = default;
    // 1 with GetText set to the reason when the work should stop; else 0 and the text
    // stays. Called on the working thread only.
    virtual int GetSocketStateText() = 0;
    virtual const std::string& GetText() const = 0;
};
