#pragma once
// Runs one external program for one request: a CGI script or the program of an SSI exec.
// The program is started without a shell, its argument vector split from a command line;
// the request body is fed to its standard input, and its standard output and standard
// error are collected until it ends, each in a spool that keeps only its start in memory.
// The run happens on the connection's worker thread; the watchdog may end it from its own
// thread through OnTimeout. What the program is started with (its command line, its
// environment) the caller makes (responses/CGIProgram).
//
// Calling order for one run: construct; fill GetInput() (CGI only); SetEnvironmentBlock;
// Start; read GetOutput() and GetErrors() (also after Start threw); destroy.

#include "ByteBuffer.h"
#include "Process.h"
#include "process/OutputSpool.h"
#include "thread/LockedValue.h"
#include "thread/StopCheck.h"
#include "thread/TimeoutWatcher.h"

#include <cstdint>
#include <mutex>
#include <string>

// The one failure of a run; thrown by value, the message says what failed.
struct CSubProcessException {
    std::string message;
};

class CSubProcess : public CTimeoutTarget {
public:
    // An answer is sent only once its program has ended, so all of it waits somewhere: a
    // program that writes more than this to its standard output or standard error is ended.
    static constexpr int32_t kMaxOutput = 64 * 1024 * 1024;

    // `stop` (not owned) outlives the runner and is polled while the child runs, so that
    // a lost client ends the run. `maxOutput` bounds each of the two outputs (tests set a
    // small one).
    explicit CSubProcess(CStopCheck& stop, int32_t maxOutput = kMaxOutput);
    // Ends a child that still runs (its whole process group), closes every pipe and reaps it.
    ~CSubProcess() override;

    // The child's environment: "NAME=value" entries, each ended by a zero byte; an empty
    // entry ends the block. Without it the child gets an empty environment.
    void SetEnvironmentBlock(const std::string& block);

    // Starts the command line in the working folder and runs Wait until the child has
    // ended; returns 0. The program (args[0]) is looked up in PATH when it holds no '/'.
    // Paths are CP932: the program, the working folder and every argument that names an
    // existing file go to the system in its spelling; other arguments keep their bytes.
    // The child's standard input sees end of file once the whole input is written; it
    // gets the environment block (an empty one when none was set).
    // `pipeSuffix` (the request's ThreadName) only labels the run.
    // Throws CSubProcessException on every failure; one runner starts one child, once.
    int Start(const std::string& commandLine, const std::string& workingFolder, const std::string& pipeSuffix);
    // The input/output loop: feeds the input, drains both outputs, watches for the child's
    // end, the watchdog's time-out (Basic::TimeOut) and the stop check. Throws
    // CSubProcessException; output beyond the limit ends the child first.
    void Wait();
    // 1 while a started child has not ended and has not been terminated.
    int IsRunning();
    // Kills the child's process group when it runs; started := 0. Safe from the watchdog.
    virtual void Terminate();
    void OnTimeout() override;

    CByteBuffer& GetInput() { return input_; }
    // Both live as long as the runner; a failure to spool is a CSubProcessException.
    COutputSpool& GetOutput() { return output_; }
    COutputSpool& GetErrors() { return errors_; }

private:
    // Writes what the child's input pipe takes now; returns the bytes written. Closes our
    // end once everything is written or the child stopped reading.
    int32_t WriteInput(int32_t offset);
    // Reads what the pipe holds now (up to end of file, which closes our end) and appends
    // it to `into`; throws past the output limit or when the spool cannot take it.
    void DrainPipe(platform::CDescriptor& fd, COutputSpool& into);
    void DrainOutputs();
    // Waits up to `ms` for a pipe or the child's end.
    void PollPipes(int ms);
    void CheckStop();
    // With processLock_ held: whether the child runs, noting its end without collecting it.
    bool RunningLocked();
    void ClosePipes();

    CStopCheck& stop_;
    const int32_t maxOutput_;
    CByteBuffer input_;
    COutputSpool output_;
    COutputSpool errors_;
    CByteBuffer environment_;
    CByteBuffer scratch_;     // one read's bytes
    CLockedValue started_;
    // pid_ and exited_ between the worker and the watchdog. The child is not collected
    // before the destructor, so its pid (and group id) cannot be reused while a kill may
    // still name it.
    std::mutex processLock_;
    platform::ProcessId pid_ = -1;
    bool exited_ = false;
    platform::CDescriptor pidFd_;     // readable once the child has ended; closed where unsupported
    platform::CDescriptor inputFd_;   // our end of the child's standard input
    platform::CDescriptor outputFd_;  // our end of the child's standard output
    platform::CDescriptor errorsFd_;  // our end of the child's standard error
};
