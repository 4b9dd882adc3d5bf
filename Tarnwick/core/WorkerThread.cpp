#include "WorkerThread.h"

#include "DebugLog.h"

#include <exception>
#include <new>
#include <system_error>

CWorkerThread::~CWorkerThread() { StopAndWait(); }

int CWorkerThread::Start()
{
    if (thread_.joinable())
        return -1;  // one thread per object
    running_.Set(1);
    try {
        thread_ = std::thread(&CWorkerThread::Entry, this);
    } catch (const std::system_error&) {
        running_.Set(0);
        return -1;
    }
    return 0;
}

void CWorkerThread::Stop() { stopRequested_.Set(1); }

void CWorkerThread::StopAndWait()
{
    Stop();
    // A thread cannot wait for its own end: it only asks, and its owner joins it later.
    if (threadId_.load() == std::this_thread::get_id())
        return;
    if (thread_.joinable())
        thread_.join();
}

void CWorkerThread::Entry(CWorkerThread* self)
{
    self->threadId_ = std::this_thread::get_id();
    try {
        self->Run();
    } catch (const std::bad_alloc&) {
        WriteDebugLog("%s", "メモリ不足により、処理スレッドが停止しました。");
    } catch (const std::exception&) {
        WriteDebugLog("%s", "サーバ内部の未処理MFC例外により、処理スレッドが停止しました。");
    } catch (...) {
        WriteDebugLog("%s", "サーバ内部の未処理例外により、処理スレッドが停止しました。");
    }
    self->running_.Set(0);
}
