#include "ControlWire.h"

#include "Clock.h"
#include "ServerControlInterface.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kMagic[4] = {'T', 'W', 'C', '1'};
constexpr size_t kFrameHeaderBytes = sizeof(kMagic) + 4;
// method, result, kind
constexpr size_t kResultHeaderBytes = 4 + 4 + 1;

void PutUint32(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetUint32(const std::string& in, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
}

int RemainingMs(uint64_t deadlineMs)
{
    uint64_t now = GetTickCount64();
    if (now >= deadlineMs)
        return 0;
    uint64_t left = deadlineMs - now;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

// Waits for `events` on fd until the deadline: 1 ready, 0 timed out, -1 error.
int WaitFor(int fd, short events, uint64_t deadlineMs)
{
    for (;;) {
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, RemainingMs(deadlineMs));
        if (n > 0)
            return 1;  // POLLHUP/POLLERR included: the next recv or send tells which
        if (n == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

// Reads exactly `size` bytes. `started` says whether a frame is under way, which turns a
// clean hang-up into a broken frame.
FrameStatus ReadExactly(int fd, char* data, size_t size, bool started, uint64_t deadlineMs)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = recv(fd, data + done, size - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return started || done > 0 ? FrameStatus::Broken : FrameStatus::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return started || done > 0 ? FrameStatus::Broken : FrameStatus::Closed;
        int ready = WaitFor(fd, POLLIN, deadlineMs);
        if (ready == 0)
            return FrameStatus::TimedOut;
        if (ready < 0)
            return FrameStatus::Broken;
    }
    return FrameStatus::Ok;
}

// A folder that the environment variable names, without trailing '/'; "" when unset or empty.
std::string FolderFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    std::string folder(value ? value : "");
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

}  // namespace

bool GetControlValueKind(int32_t method, ControlValueKind* kind)
{
    switch (method) {
    case kControlCreateMethod:
    case kDispStopServer:
        *kind = ControlValueKind::None;
        return true;
    case kDispStartServer:
    case kDispIsRunning:
    case kDispIsService:
    case kDispIsActive:
        *kind = ControlValueKind::Short;
        return true;
    case kDispGetServerErrorString:
    case kDispGetServerInfo:
    case kDispGetServerSetting:
    case kDispGetServerContext:
    case kDispGetServerRoot:
        *kind = ControlValueKind::Text;
        return true;
    default:
        return false;
    }
}

std::string EncodeControlCall(const ControlCall& call)
{
    std::string out;
    PutUint32(out, static_cast<uint32_t>(call.method));
    if (call.method == kControlCreateMethod)
        out += call.interfaceId;
    return out;
}

bool DecodeControlCall(const std::string& payload, ControlCall* call)
{
    if (payload.size() < 4 || payload.size() > kMaxControlCallBytes)
        return false;
    call->method = static_cast<int32_t>(GetUint32(payload, 0));
    call->interfaceId.clear();
    if (call->method == kControlCreateMethod) {
        call->interfaceId = payload.substr(4);
        return true;
    }
    return payload.size() == 4;
}

bool EncodeControlResult(const ControlResult& result, std::string* payload)
{
    std::string out;
    PutUint32(out, static_cast<uint32_t>(result.method));
    PutUint32(out, static_cast<uint32_t>(result.result));
    out.push_back(static_cast<char>(result.kind));
    switch (result.kind) {
    case ControlValueKind::None:
        break;
    case ControlValueKind::Short: {
        uint16_t value = static_cast<uint16_t>(result.shortValue);
        out.push_back(static_cast<char>(value & 0xFF));
        out.push_back(static_cast<char>(value >> 8));
        break;
    }
    case ControlValueKind::Text: {
        if (result.text.size() > (kMaxControlResultBytes - kResultHeaderBytes - 4) / 2)
            return false;
        PutUint32(out, static_cast<uint32_t>(result.text.size()));
        out.reserve(out.size() + result.text.size() * 2);
        for (char16_t unit : result.text) {
            out.push_back(static_cast<char>(unit & 0xFF));
            out.push_back(static_cast<char>(unit >> 8));
        }
        break;
    }
    }
    *payload = std::move(out);
    return true;
}

bool DecodeControlResult(const std::string& payload, ControlResult* result)
{
    if (payload.size() < kResultHeaderBytes || payload.size() > kMaxControlResultBytes)
        return false;
    result->method = static_cast<int32_t>(GetUint32(payload, 0));
    result->result = static_cast<int32_t>(GetUint32(payload, 4));
    unsigned char kind = static_cast<unsigned char>(payload[8]);
    size_t rest = payload.size() - kResultHeaderBytes;
    result->shortValue = 0;
    result->text.clear();
    switch (kind) {
    case static_cast<unsigned char>(ControlValueKind::None):
        result->kind = ControlValueKind::None;
        return rest == 0;
    case static_cast<unsigned char>(ControlValueKind::Short):
        result->kind = ControlValueKind::Short;
        if (rest != 2)
            return false;
        result->shortValue = static_cast<int16_t>(
            static_cast<unsigned char>(payload[9]) | (static_cast<unsigned char>(payload[10]) << 8));
        return true;
    case static_cast<unsigned char>(ControlValueKind::Text): {
        result->kind = ControlValueKind::Text;
        if (rest < 4)
            return false;
        uint32_t units = GetUint32(payload, kResultHeaderBytes);
        if (rest - 4 != static_cast<size_t>(units) * 2)
            return false;
        result->text.resize(units);
        const size_t base = kResultHeaderBytes + 4;
        for (uint32_t i = 0; i < units; ++i) {
            result->text[i] = static_cast<char16_t>(
                static_cast<unsigned char>(payload[base + 2 * i]) |
                (static_cast<unsigned char>(payload[base + 2 * i + 1]) << 8));
        }
        return true;
    }
    default:
        return false;
    }
}

FrameStatus WriteControlFrame(int fd, const std::string& payload, uint64_t deadlineMs)
{
    if (payload.size() > kMaxControlResultBytes)
        return FrameStatus::Broken;
    std::string frame(kMagic, sizeof(kMagic));
    PutUint32(frame, static_cast<uint32_t>(payload.size()));
    frame += payload;

    size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return FrameStatus::Broken;
        int ready = WaitFor(fd, POLLOUT, deadlineMs);
        if (ready == 0)
            return FrameStatus::TimedOut;
        if (ready < 0)
            return FrameStatus::Broken;
    }
    return FrameStatus::Ok;
}

FrameStatus ReadControlFrame(int fd, std::string* payload, uint32_t maxBytes, uint64_t deadlineMs)
{
    char header[kFrameHeaderBytes];
    FrameStatus status = ReadExactly(fd, header, sizeof(header), false, deadlineMs);
    if (status != FrameStatus::Ok)
        return status;
    if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0)
        return FrameStatus::Broken;
    uint32_t size = GetUint32(std::string(header, sizeof(header)), sizeof(kMagic));
    if (size > maxBytes)
        return FrameStatus::Broken;
    payload->assign(size, '\0');
    if (size == 0)
        return FrameStatus::Ok;
    return ReadExactly(fd, &(*payload)[0], size, true, deadlineMs);
}

std::string GetControlRuntimeFolder()
{
    std::string own = FolderFromEnvironment("TARNWICK_RUNTIME_DIR");
    if (!own.empty())
        return own;
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg)
        return std::string(xdg) + "/tarnwick";
    return "/tmp/tarnwick-" + std::to_string(static_cast<unsigned long>(geteuid()));
}

std::string GetServiceControlRuntimeFolder()
{
    std::string given = FolderFromEnvironment("TARNWICK_SERVICE_RUNTIME_DIR");
    return given.empty() ? std::string(kServiceRuntimeFolder) : given;
}

std::string GetControlSocketPath(const std::string& classId)
{
    return GetControlSocketPath(GetControlRuntimeFolder(), classId);
}

std::string GetControlSocketPath(const std::string& folder, const std::string& classId)
{
    return folder + "/" + classId;
}

bool IsTrustedControlPeer(int fd, int* pid)
{
    if (pid)
        *pid = 0;
    ucred cred{};
    socklen_t size = sizeof(cred);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof(cred))
        return false;
    if (cred.uid != geteuid() && cred.uid != 0)
        return false;
    if (pid)
        *pid = cred.pid;
    return true;
}

}  // namespace platform
