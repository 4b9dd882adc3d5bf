#include "EventLog.h"

#include "TextCodec.h"

#include <syslog.h>

#include <mutex>

namespace platform {

namespace {

// openlog keeps the ident pointer and the log state is the process's, so reports take
// turns, and the ident lives until closelog.
std::mutex& ReportLock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace

int EventPriority(bool isError) { return isError ? LOG_ERR : LOG_INFO; }

std::string EventLogLine(uint32_t id, const std::string& text)
{
    std::string line = "[" + std::to_string(id) + "]";
    if (!text.empty())
        line += " " + Cp932ToUtf8(text);
    return line;
}

int ReportEvent(const std::string& source, uint32_t id, bool isError, const std::string& text)
{
    if (source.empty())
        return -1;
    const std::string ident = Cp932ToUtf8(source);
    const std::string line = EventLogLine(id, text);
    std::lock_guard<std::mutex> guard(ReportLock());
    ::openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(EventPriority(isError), "%s", line.c_str());
    ::closelog();
    return 0;
}

void ReportProgramMessage(const char* ident, const std::string& text)
{
    const std::string line = Cp932ToUtf8(text);
    std::lock_guard<std::mutex> guard(ReportLock());
    ::openlog(ident, LOG_PID, LOG_USER);
    ::syslog(LOG_ERR, "%s", line.c_str());
    ::closelog();
}

}  // namespace platform
