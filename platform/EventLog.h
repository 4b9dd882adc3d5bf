#pragma once
// The event log: events go to syslog (and so to the journal) under the source's name as
// the ident, with the event id before the text.

#include <cstdint>
#include <string>

namespace platform {

// The syslog priority of an event: LOG_ERR for an error, LOG_INFO otherwise.
int EventPriority(bool isError);

// The line written for an event: "[id] text" with the id in decimal and the CP932 text
// converted to UTF-8, as the journal expects; "[id]" alone for an empty text.
std::string EventLogLine(uint32_t id, const std::string& text);

// Writes one event to syslog with `source` as the ident (facility LOG_DAEMON, with the
// process id). 0, or -1 when the source is empty: nothing is reported then. Safe to call
// from any thread; the ident in force for other syslog callers is the program's name again
// afterwards.
int ReportEvent(const std::string& source, uint32_t id, bool isError, const std::string& text);

// Writes a program's own message to syslog as it is, converted to UTF-8: `ident` (ASCII)
// as the ident, facility LOG_USER, priority LOG_ERR, with the process id. Safe to call from
// any thread, as ReportEvent.
void ReportProgramMessage(const char* ident, const std::string& text);

}  // namespace platform
