#include "ServiceHost.h"

#include "FileIo.h"
#include "TextCodec.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace platform {

namespace {

const char kSystemUnitDirectory[] = "/etc/systemd/system";
// sd_booted(3): systemd is the init system exactly when this folder exists.
const char kSystemdRuntimeDirectory[] = "/run/systemd/system";

// A poll that fails for want of memory is retried after this pause rather than in a spin.
constexpr int kPollRetryPauseMs = 10;

std::string UnitFileName(const std::string& name) { return name + ".service"; }

std::string UnitPath(const std::string& name)
{
    return ServiceUnitDirectory() + "/" + UnitFileName(name);
}

// A unit name is one file name: nothing that leaves the folder or is no name at all.
bool IsValidUnitName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string Hex2(unsigned char byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    return text;
}

// systemd refuses a program path with a quote, an apostrophe, a backslash or a control byte
// in it, even escaped ("Executable name contains special characters"), and wants it
// absolute.
bool IsNameableProgram(const std::string& utf8)
{
    if (utf8.empty() || utf8[0] != '/')
        return false;
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\'' || c == '\\' || byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

// One word of a command line or one Environment= assignment, quoted (systemd.service
// "Command lines", systemd.exec "Environment="): C escapes inside the quotes, '%' doubled
// because specifiers expand anywhere in the line, '$' doubled where variables expand (every
// word of a command line but the program; never in an assignment).
std::string QuoteWord(const std::string& utf8, bool expandsVariables)
{
    std::string quoted = "\"";
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"')
            quoted += std::string("\\") + c;
        else if (c == '%')
            quoted += "%%";
        else if (c == '$' && expandsVariables)
            quoted += "$$";
        else if (byte < 0x20 || byte == 0x7f)
            quoted += "\\x" + Hex2(byte);
        else
            quoted += c;
    }
    return quoted + "\"";
}

// A word that systemd reads back unchanged without quotes.
bool IsPlainWord(const std::string& word)
{
    if (word.empty() || word == ";")
        return false;
    for (const char c : word) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '/' || c == '.' || c == '_' || c == '-';
        if (!plain)
            return false;
    }
    return true;
}

// A name that User= and RuntimeDirectory= take without quoting or specifiers; anything
// else is refused rather than guessed at.
bool IsPlainName(const std::string& name)
{
    return IsPlainWord(name) && name.find('/') == std::string::npos && name[0] != '.' && name[0] != '-';
}

bool IsVariableName(const std::string& name)
{
    if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (const char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

bool HasControlByte(const std::string& text)
{
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

// The [Service] lines after ExecStart=: who runs it, its runtime folder and its
// environment; false when one of them cannot be named in a unit.
bool AppendServiceContext(const ServiceDefinition& definition, std::string& lines)
{
    if (!definition.user.empty()) {
        if (!IsPlainName(definition.user))
            return false;
        lines += "User=" + definition.user + "\n"
                 "AmbientCapabilities=CAP_NET_BIND_SERVICE\n";
    }
    if (!definition.runtimeDirectory.empty()) {
        if (!IsPlainName(definition.runtimeDirectory))
            return false;
        lines += "RuntimeDirectory=" + definition.runtimeDirectory + "\n"
                 "RuntimeDirectoryMode=0700\n";
    }
    for (const ServiceEnvironmentVariable& variable : definition.environment) {
        const std::string value = Cp932ToUtf8(variable.value);
        if (!IsVariableName(variable.name) || HasControlByte(value))
            return false;
        const std::string assignment = variable.name + "=" + value;
        lines += "Environment=" + (IsPlainWord(value) ? assignment : QuoteWord(assignment, false)) + "\n";
    }
    return true;
}

// Description= is one line with specifiers.
std::string DescriptionValue(const std::string& utf8)
{
    std::string value;
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '%')
            value += "%%";
        else if (byte < 0x20 || byte == 0x7f)
            value += ' ';
        else
            value += c;
    }
    return value;
}

std::string RealPath(const std::string& native)
{
    char resolved[PATH_MAX];
    return ::realpath(native.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The manager is told only about units in its own folder, and only when it runs: a unit
// folder given for a test never touches the running system.
bool SystemdManages(const std::string& directory)
{
    if (!SystemdRuns())
        return false;
    const std::string resolved = RealPath(NativePath(directory));
    return !resolved.empty() && resolved == RealPath(kSystemUnitDirectory);
}

// Runs systemctl with `arguments`; true when it exits with 0. The child gets an empty
// signal mask, since the service's blocked signals would otherwise pass to it.
bool RunSystemctl(const std::vector<std::string>& arguments)
{
    std::vector<std::string> words{"systemctl"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0)
        return false;
    sigset_t empty;
    sigemptyset(&empty);
    ::posix_spawnattr_setsigmask(&attributes, &empty);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, "systemctl", nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

sigset_t ServiceSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

void CloseIfOpen(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

}  // namespace

ServiceStatus MakeServiceStatus(ServiceState state, uint32_t exitCode)
{
    ServiceStatus status;
    status.state = state;
    status.controlsAccepted = kServiceAcceptStop | kServiceAcceptShutdown;
    if (exitCode != 0) {
        status.exitCode = kErrorServiceSpecificError;
        status.serviceSpecificExitCode = exitCode;
    }
    return status;
}

std::string ServiceNotifyMessage(const ServiceStatus& status)
{
    std::string message;
    std::string text;
    switch (status.state) {
    case ServiceState::Running:
        message = "READY=1\n";
        text = "Running";
        break;
    case ServiceState::StopPending:
        message = "STOPPING=1\n";
        text = "Stopping";
        break;
    case ServiceState::Stopped:
        text = "Stopped";
        break;
    }
    const bool specific = status.exitCode == kErrorServiceSpecificError;
    if (specific)
        text += " (service-specific error " + std::to_string(status.serviceSpecificExitCode) + ")";
    if (!status.text.empty()) {
        // A line break would end the assignment and start another.
        text = Cp932ToUtf8(status.text);
        std::replace_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    }
    message += "STATUS=" + text;
    if (specific && status.state == ServiceState::Stopped)
        message += "\nEXIT_STATUS=" + std::to_string(status.serviceSpecificExitCode);
    return message;
}

int NotifyServiceManager(const std::string& address, const std::string& message)
{
    if (address.empty())
        return 0;
    sockaddr_un target{};
    target.sun_family = AF_UNIX;
    socklen_t length = 0;
    if (address[0] == '/') {
        if (address.size() >= sizeof target.sun_path)
            return -1;
        std::memcpy(target.sun_path, address.data(), address.size());
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() + 1);
    } else if (address[0] == '@') {
        // An abstract name is the bytes after a leading zero byte, counted exactly.
        if (address.size() > sizeof target.sun_path)
            return -1;
        std::memcpy(target.sun_path + 1, address.data() + 1, address.size() - 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    } else {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ssize_t sent;
    do {
        sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&target), length);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    return sent == static_cast<ssize_t>(message.size()) ? 0 : -1;
}

std::string ServiceUnitDirectory()
{
    const char* given = std::getenv("TARNWICK_UNIT_DIR");
    std::string directory = given && *given ? Utf8ToCp932(given) : std::string(kSystemUnitDirectory);
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}

bool SystemdRuns()
{
    struct stat info;
    return ::lstat(kSystemdRuntimeDirectory, &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ServiceUnitText(const ServiceDefinition& definition)
{
    const std::string program = Cp932ToUtf8(definition.programPath);
    if (!IsNameableProgram(program))
        return "";
    std::string exec = QuoteWord(program, false);
    if (!definition.argument.empty()) {
        const std::string argument = Cp932ToUtf8(definition.argument);
        exec += " " + (IsPlainWord(argument) ? argument : QuoteWord(argument, true));
    }
    std::string context;
    if (!AppendServiceContext(definition, context))
        return "";
    return "[Unit]\n"
           "Description=" + DescriptionValue(Cp932ToUtf8(definition.displayName)) + "\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" + exec + "\n" +
           context +
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

ServiceInstallResult InstallService(const ServiceDefinition& definition)
{
    if (!IsValidUnitName(definition.name))
        return ServiceInstallResult::Failed;
    const std::string directory = ServiceUnitDirectory();
    const std::string path = UnitPath(definition.name);
    struct stat info;
    if (::lstat(NativePath(path).c_str(), &info) == 0)
        return ServiceInstallResult::AlreadyExists;
    if (errno != ENOENT)
        return ServiceInstallResult::Failed;
    const std::string unit = ServiceUnitText(definition);
    std::string error;
    if (unit.empty() || !WriteFileAtomically(path, unit, error))
        return ServiceInstallResult::Failed;
    if (SystemdManages(directory)) {
        const std::string unit = Cp932ToUtf8(UnitFileName(definition.name));
        if (!RunSystemctl({"daemon-reload"}) || !RunSystemctl({"enable", unit})) {
            ::unlink(NativePath(path).c_str());
            RunSystemctl({"daemon-reload"});
            return ServiceInstallResult::Failed;
        }
    }
    return ServiceInstallResult::Created;
}

int RemoveService(const std::string& name)
{
    if (!IsValidUnitName(name))
        return -1;
    const std::string directory = ServiceUnitDirectory();
    const std::string native = NativePath(UnitPath(name));
    struct stat info;
    if (::lstat(native.c_str(), &info) != 0)
        return errno == ENOENT ? 0 : -1;
    const bool managed = SystemdManages(directory);
    // The file decides the result: a unit that cannot be disabled is still removed, and
    // systemd ignores the link that then points nowhere.
    if (managed)
        RunSystemctl({"disable", Cp932ToUtf8(UnitFileName(name))});
    if (::unlink(native.c_str()) != 0 && errno != ENOENT)
        return -1;
    if (managed)
        RunSystemctl({"daemon-reload"});
    return 0;
}

int BlockServiceSignals()
{
    const sigset_t set = ServiceSignals();
    return ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0 ? 0 : -1;
}

CServiceDispatcher::CServiceDispatcher()
    : CServiceDispatcher([] {
          const char* address = std::getenv("NOTIFY_SOCKET");
          return std::string(address ? address : "");
      }())
{
}

CServiceDispatcher::CServiceDispatcher(std::string notifyAddress) : notifyAddress_(std::move(notifyAddress)) {}

CServiceDispatcher::~CServiceDispatcher() = default;

int CServiceDispatcher::Run(const std::function<void()>& serviceMain)
{
    const sigset_t signals = ServiceSignals();
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &signals, &previous) != 0)
        return -1;
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    bool claimed = false;
    if (signalFd >= 0 && wakeFd >= 0) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!running_) {
            claimed = true;
            running_ = true;
            stopped_ = false;
            mainDone_ = false;
            handler_ = nullptr;
            status_ = ServiceStatus();
            wakeFd_ = wakeFd;
        }
    }
    auto release = [&] {
        {
            std::lock_guard<std::mutex> guard(lock_);
            running_ = false;
            wakeFd_ = -1;
            for (ControlRequest* request : queue_)
                request->answered = true;  // the answer stays kErrorServiceNotActive
            queue_.clear();
        }
        answered_.notify_all();
        CloseIfOpen(signalFd);
        CloseIfOpen(wakeFd);
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    };
    if (!claimed) {
        CloseIfOpen(signalFd);
        CloseIfOpen(wakeFd);
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return -1;
    }

    std::exception_ptr failure;
    std::thread serviceThread;
    try {
        serviceThread = std::thread([&] {
            try {
                serviceMain();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> guard(lock_);
                mainDone_ = true;
            }
            Wake();
        });
    } catch (const std::system_error&) {
        release();
        return -1;
    }
    Serve(signalFd);
    serviceThread.join();
    release();
    if (failure)
        std::rethrow_exception(failure);
    return 0;
}

void CServiceDispatcher::Serve(int signalFd)
{
    int wakeFd;
    {
        std::lock_guard<std::mutex> guard(lock_);
        wakeFd = wakeFd_;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (mainDone_)
                break;
        }
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollRetryPauseMs));
            continue;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                Deliver(kServiceControlStop);
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            (void)!::read(wakeFd, &count, sizeof count);
        }
        AnswerQueued();
    }
}

void CServiceDispatcher::AnswerQueued()
{
    for (;;) {
        ControlRequest* request;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (queue_.empty())
                return;
            request = queue_.front();
            queue_.pop_front();
        }
        const uint32_t answer = Deliver(request->control);
        {
            std::lock_guard<std::mutex> guard(lock_);
            request->answer = answer;
            request->answered = true;
        }
        answered_.notify_all();
    }
}

uint32_t CServiceDispatcher::Deliver(uint32_t control)
{
    ControlHandler handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopped_)
            return kErrorServiceNotActive;
        handler = handler_;
    }
    // Called without the lock: a handler reports its status, which takes it.
    return handler ? handler(control) : kErrorCallNotImplemented;
}

void CServiceDispatcher::Wake()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
}

void CServiceDispatcher::RegisterControlHandler(ControlHandler handler)
{
    std::lock_guard<std::mutex> guard(lock_);
    handler_ = std::move(handler);
}

int CServiceDispatcher::ReportStatus(ServiceState state, uint32_t exitCode, const std::string& text)
{
    ServiceStatus status = MakeServiceStatus(state, exitCode);
    status.text = text;
    {
        std::lock_guard<std::mutex> guard(lock_);
        status_ = status;
        if (state == ServiceState::Stopped)
            stopped_ = true;
    }
    return NotifyServiceManager(notifyAddress_, ServiceNotifyMessage(status));
}

ServiceStatus CServiceDispatcher::CurrentStatus() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return status_;
}

uint32_t CServiceDispatcher::SendControl(uint32_t control)
{
    ControlRequest request;
    request.control = control;
    std::unique_lock<std::mutex> guard(lock_);
    if (!running_ || stopped_ || wakeFd_ < 0)
        return kErrorServiceNotActive;
    queue_.push_back(&request);
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    answered_.wait(guard, [&] { return request.answered; });
    return request.answer;
}

}  // namespace platform
