#include "app/DebugLog.h"

#include "FileIo.h"
#include "ModulePath.h"
#include "thread/WorkerThread.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

void WriteDebugLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (size > 0) {
        std::vector<char> text(static_cast<size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        line.assign(text.data(), static_cast<size_t>(size));
    }
    va_end(args);

    const std::string path = platform::NativePath(platform::GetModulePath(1) + "Debuglog.txt");
    if (FILE* file = std::fopen(path.c_str(), "ae")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

void ReportThreadFailuresToDebugLog()
{
    CWorkerThread::SetFailureReport([](const char* text) { WriteDebugLog("%s", text); });
}
