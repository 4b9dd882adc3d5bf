#pragma once
// The debug log: "Debuglog.txt" in the server root, one line per call, for failures that
// have no request or system log to go to (an exception that ended a thread).

// printf-style. Opens, appends and closes the file each time; when the file cannot be
// opened the line is lost and the caller goes on.
void WriteDebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Makes the debug log where an exception that ended a server thread's work is written.
// Once at start, before any thread; the program's application object does it.
void ReportThreadFailuresToDebugLog();
