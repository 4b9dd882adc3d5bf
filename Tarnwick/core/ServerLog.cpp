#include "core/ServerLog.h"

#include "core/SecondTexts.h"
#include "ByteScan.h"
#include "FileIo.h"
#include "FilePath.h"
#include "SettingsSchema.h"

#include "File.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kLineEnd = "\r\n";

std::string FormatText(const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return std::string();
    // vsnprintf writes a terminating NUL; the string's own one takes it.
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

// One queued text must stay one line in the file. CP932 trail bytes are 0x40 and above,
// so testing byte by byte never splits a character.
bool IsControlByte(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

std::string EscapeControlBytes(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (!IsControlByte(c)) {
            result += c;
        } else if (c == '\r') {
            result += "\\r";
        } else if (c == '\n') {
            result += "\\n";
        } else if (c == '\t') {
            result += "\\t";
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            result += escaped;
        }
    }
    return result;
}

std::string Describe(const char* what, const std::string& path, int err)
{
    return std::string(what) + path + " : " + std::strerror(err);
}

}  // namespace

void CServerLog::SetSettings(const CConfigAccessor& settings)
{
    std::lock_guard<CSpinLock> lock(lock_);
    settings_ = settings;
}

void CServerLog::AddRequestLine(const std::string& line) { Append(requestLines_, line); }

void CServerLog::AddSystemLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = FormatText(format, args);
    va_end(args);
    Append(systemLines_, CSecondTexts::Now().LogPrefix() + message);
}

void CServerLog::Append(Queue& queue, const std::string& line)
{
    // Most lines hold no control byte: they are queued without a copy.
    const bool plain = !HoldsControlByte(line);
    const std::string escaped = plain ? std::string() : EscapeControlBytes(line);
    std::lock_guard<CSpinLock> lock(lock_);
    queue.queued.text += plain ? line : escaped;
    queue.queued.text += kLineEnd;
    queue.queued.ends.push_back(queue.queued.text.size());
}

int CServerLog::Flush()
{
    std::lock_guard<std::mutex> flushing(flushLock_);
    {
        std::lock_guard<CSpinLock> lock(lock_);
        if (!settings_.GetTree()) {
            lastError_ = "ログの出力先を読むサーバがありません";
            return -1;
        }
    }
    std::string requestError;
    std::string systemError;
    const bool requestWritten = FlushQueue(requestLines_, schema::kLogFilePath, requestError);
    // After the request log, so that a note on its failure reaches the file in this flush.
    const bool systemWritten = FlushQueue(systemLines_, schema::kSystemLogFilePath, systemError);

    std::lock_guard<CSpinLock> lock(lock_);
    lastError_ = requestError;
    if (!requestError.empty() && !systemError.empty())
        lastError_ += " / ";
    lastError_ += systemError;
    return requestWritten && systemWritten ? 0 : -1;
}

bool CServerLog::FlushQueue(Queue& queue, const schema::TextKey& fileName, std::string& error)
{
    Lines lines;
    CConfigAccessor settings;
    {
        std::lock_guard<CSpinLock> lock(lock_);
        lines = std::move(queue.queued);
        queue.queued = std::move(queue.spare);
        settings = settings_;
    }
    // The buffers go back as the spare, emptied, however the write went.
    const auto keepSpare = [&] {
        lines.Clear();
        std::lock_guard<CSpinLock> lock(lock_);
        queue.spare = std::move(lines);
    };
    if (lines.ends.empty()) {
        keepSpare();
        return true;
    }

    // Read at every flush: the value filter fills the date names for this moment.
    const std::string path = fileName.Read(settings);
    const std::string folder = GetParentDirectory(path);
    if (!folder.empty())
        CreateDirectoryPath(folder);  // a failure shows in the open below

    int64_t written = 0;
    platform::CFile file;
    if (!file.Open(platform::NativePath(path), platform::CFile::Mode::Append)) {
        error = Describe("ログファイルを開けません : ", path, errno);
    } else if (!file.Write(lines.text.data(), static_cast<int64_t>(lines.text.size()), written)) {
        error = Describe("ログファイルに書き込めません : ", path, errno);
    }

    if (error.empty()) {
        keepSpare();
        std::lock_guard<CSpinLock> lock(lock_);
        queue.failing = false;
        return true;
    }
    // A line cut off by the failure is written whole next time.
    std::size_t linesWritten = 0;
    while (linesWritten < lines.ends.size() && lines.ends[linesWritten] <= static_cast<std::size_t>(written))
        ++linesWritten;
    Requeue(queue, lines, linesWritten);
    keepSpare();
    bool firstFailure;
    {
        std::lock_guard<CSpinLock> lock(lock_);
        firstFailure = !queue.failing;
        queue.failing = true;
    }
    if (firstFailure)
        Append(systemLines_, CSecondTexts::Now().LogPrefix() + "SystemError : " + error);
    return false;
}

void CServerLog::Requeue(Queue& queue, const Lines& unwritten, std::size_t firstLine)
{
    const auto start = [&unwritten](std::size_t line) { return line == 0 ? 0 : unwritten.ends[line - 1]; };
    const std::size_t lineEnd = std::strlen(kLineEnd);
    std::lock_guard<CSpinLock> lock(lock_);
    // The backlog's size counts the lines' texts, not their line ends.
    const std::size_t lineCount = unwritten.ends.size() - firstLine + queue.queued.ends.size();
    std::size_t total = unwritten.text.size() - start(firstLine) + queue.queued.text.size() - lineCount * lineEnd;
    // Only the backlog is cut: lines that arrived during this flush have not failed yet.
    std::size_t first = firstLine;
    while (first < unwritten.ends.size() && total > kMaxBacklogBytes) {
        total -= unwritten.ends[first] - start(first) - lineEnd;
        ++first;
    }
    lostLines_ += first - firstLine;

    Lines merged;
    const std::size_t from = start(first);
    merged.text.reserve(unwritten.text.size() - from + queue.queued.text.size());
    merged.text.append(unwritten.text, from, std::string::npos);
    for (std::size_t i = first; i < unwritten.ends.size(); ++i)
        merged.ends.push_back(unwritten.ends[i] - from);
    const std::size_t offset = merged.text.size();
    merged.text += queue.queued.text;
    for (const std::size_t end : queue.queued.ends)
        merged.ends.push_back(end + offset);
    queue.queued = std::move(merged);
}

std::string CServerLog::GetLastFlushError() const
{
    std::lock_guard<CSpinLock> lock(lock_);
    return lastError_;
}

std::uint64_t CServerLog::GetLostLineCount() const
{
    std::lock_guard<CSpinLock> lock(lock_);
    return lostLines_;
}
