#pragma once
// The server's status text, as the control interface reports it. It has a lock of its own,
// apart from the application's: a stopping application holds its lock while it waits for
// the core thread, and the core thread must still be able to set the text.

#include <mutex>
#include <string>

class CServerStatus {
public:
    // The text while the server runs without a warning standing.
    static constexpr const char* kRunning = "サーバは正常に作動中です。";
    // The text before the start and after the stop.
    static constexpr const char* kStopped = "サーバは停止中です。";

    std::string Get() const
    {
        std::lock_guard<std::mutex> lock(lock_);
        return text_;
    }
    void Set(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(lock_);
        text_ = text;
    }

private:
    mutable std::mutex lock_;
    std::string text_ = kStopped;
};
