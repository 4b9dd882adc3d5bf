#pragma once
// The server's two log files: the request log (one line per request) and the system log
// (start, stop and failure messages). Adding a line only queues it in memory, so request
// threads never wait on the disk; the core thread writes the queues out with Flush about
// once a second and when it stops. The file names are settings read anew at each flush,
// so "%Year%%Month%%Day%" in the request log's name starts a new file each day.
//
// File format: CP932 text, appended, one line per queued text followed by CR LF. Bytes
// below 0x20 and 0x7F inside a line are written as \r, \n, \t or \xNN, so no text (a
// request value in particular) can end a line early and forge the next one.

#include "ConfigAccessor.h"

#include "thread/SpinLock.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace schema {
struct TextKey;
}

class CServerLog {
public:
    // A log whose file stays unwritable keeps at most this many bytes of its unwritten
    // lines, so a broken path cannot exhaust memory; the oldest lines go first.
    static constexpr std::size_t kMaxBacklogBytes = 8 * 1024 * 1024;

    CServerLog() = default;
    // Lines still queued are lost: the owner flushes before it destroys the log.
    virtual ~CServerLog() = default;
    CServerLog(const CServerLog&) = delete;
    CServerLog& operator=(const CServerLog&) = delete;

    // The settings that name the files (the core's "Setting" accessor, whose tree's filter
    // fills the date names); the tree must outlive every later Flush.
    void SetSettings(const CConfigAccessor& settings);

    // Queues the text as one request-log line. Thread-safe.
    void AddRequestLine(const std::string& line);
    // printf-style; queue the formatted text, prefixed with the local time of this call as
    // "[YYYY/MM/DD hh:mm:ss]", as one system-log line. Thread-safe.
    void AddSystemLine(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Appends the queued lines to their files, request log first; an empty queue leaves its
    // file unopened. The file's folder is created with every missing level above it.
    // Returns 0 when every queued line was written, -1 otherwise: then the lines not
    // written stay queued ahead of newer ones for the next flush (up to kMaxBacklogBytes
    // per log), GetLastFlushError says which file failed and why, and the first failure
    // of a file after it last worked queues a system-log line saying so. Without settings
    // nothing is written and -1 is returned. Flushes from several threads run one at a
    // time; adding lines never waits for the disk.
    int Flush();

    // The reason of the last failed flush ("" after one that wrote everything). Thread-safe.
    std::string GetLastFlushError() const;
    // How many lines were dropped so far because a backlog outgrew kMaxBacklogBytes.
    std::uint64_t GetLostLineCount() const;

private:
    // The queued lines as the file takes them, each followed by CR LF, in order of arrival:
    // one text, not a string per line, so that a request thread queues its line without a
    // block of memory that the flushing thread would free (threads' heaps grew without end
    // from such frees). A flush takes the text and leaves the spare one of the last flush,
    // so the buffers keep their size from second to second.
    struct Lines {
        std::string text;
        std::vector<std::size_t> ends;  // where each line's CR LF ends in text
        void Clear()
        {
            text.clear();
            ends.clear();
        }
    };
    struct Queue {
        Lines queued;
        Lines spare;           // empty; the flushing thread's only
        bool failing = false;  // the last write of this log failed
    };

    void Append(Queue& queue, const std::string& line);
    // Writes one queue's lines to the file its setting names; false with `error` set when
    // some lines were not written, which are then put back at the front of the queue.
    bool FlushQueue(Queue& queue, const schema::TextKey& fileName, std::string& error);
    // Puts the lines of `unwritten` from `firstLine` on (those a failed write left) back
    // ahead of the lines queued meanwhile.
    void Requeue(Queue& queue, const Lines& unwritten, std::size_t firstLine);

    // Guards everything below. Every request takes it for one line, and every hold is a
    // few steps: a spin lock spares the requests a sleep and a wake-up when they meet.
    mutable CSpinLock lock_;
    Queue requestLines_;
    Queue systemLines_;
    CConfigAccessor settings_;  // no tree until SetSettings
    std::string lastError_;
    std::uint64_t lostLines_ = 0;

    std::mutex flushLock_;  // one flush at a time, so requeued lines keep their order;
                            // taken before lock_, never inside it
};
