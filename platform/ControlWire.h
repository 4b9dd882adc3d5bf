#pragma once
// The control channel between the server and its clients, in place of an out-of-process
// object broker: where the channel lives (a Unix stream socket named after the class id in
// the user's private runtime folder, or the system service's) and how one call and its
// result are framed on it.
//
// Every frame is the magic "TWC1", the payload length (32 bits, little endian) and the
// payload. A call carries the method number (the dispatch id; 0 asks for the object and
// carries the interface id), a result carries the method number, the interface-level
// result and the method's value: nothing, a 16-bit integer or UTF-16 text. Integers are
// little endian. Anything else a peer sends is a broken frame, never undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A connection starts with this call; its text is the interface id that the client wants.
constexpr int32_t kControlCreateMethod = 0;
// A client that lets go of its object sends this call last, before it hangs up; it has no
// result. A hang-up without it means that the channel broke, not that the client is done.
// Apart from the interface's dispatch ids, which count from 1.
constexpr int32_t kControlReleaseMethod = -2;

// A call is a method number and at most an interface id: anything longer is garbage.
constexpr uint32_t kMaxControlCallBytes = 64;
// The largest status document (the context tree with its recent requests) is a few MiB;
// a result announcing more than this is taken as a broken peer, not allocated.
constexpr uint32_t kMaxControlResultBytes = 64u * 1024 * 1024;

// The kind of value that each method's result carries.
enum class ControlValueKind : uint8_t { None = 0, Short = 1, Text = 2 };

// The value kind of a method, or false for a method number no interface defines
// (kControlCreateMethod answers with None).
bool GetControlValueKind(int32_t method, ControlValueKind* kind);

struct ControlCall {
    int32_t method = 0;
    std::string interfaceId;  // only with kControlCreateMethod; ASCII
};

struct ControlResult {
    int32_t method = 0;
    int32_t result = 0;  // kOk or a failure of ServerControlInterface.h
    ControlValueKind kind = ControlValueKind::None;
    int16_t shortValue = 0;  // with Short
    std::u16string text;     // with Text
};

// Payloads (without the frame's magic and length). Encoders never fail except that a
// result longer than kMaxControlResultBytes returns false. Decoders return false for
// anything but an exactly well-formed payload, leaving the output unspecified.
std::string EncodeControlCall(const ControlCall& call);
bool DecodeControlCall(const std::string& payload, ControlCall* call);
bool EncodeControlResult(const ControlResult& result, std::string* payload);
bool DecodeControlResult(const std::string& payload, ControlResult* result);

enum class FrameStatus {
    Ok,
    Closed,    // the peer hung up before the first byte of a frame
    Broken,    // wrong magic, a length over the limit, a hang-up inside the frame, an error
    TimedOut,  // the deadline passed before the whole frame moved
};

// Moves one whole frame over the connected stream socket `fd`, blocking or not, waiting
// at most until `deadlineMs` (platform::GetTickCount64 time). Never raises SIGPIPE. After
// anything but Ok the stream is out of step and must be closed.
FrameStatus WriteControlFrame(int fd, const std::string& payload, uint64_t deadlineMs);
FrameStatus ReadControlFrame(int fd, std::string* payload, uint32_t maxBytes,
                             uint64_t deadlineMs);

// The private runtime folder: TARNWICK_RUNTIME_DIR when set and not empty, else
// $XDG_RUNTIME_DIR/tarnwick when XDG_RUNTIME_DIR is set and not empty, else
// /tmp/tarnwick-<uid>. Native (UTF-8) path, no trailing '/'.
std::string GetControlRuntimeFolder();

// The system service's runtime folder, which its unit has systemd make (RuntimeDirectory=,
// a name under /run) and hands to the service as its TARNWICK_RUNTIME_DIR: owned by the
// user the service runs as, open to that user and root only. The two name one folder.
constexpr const char kServiceRuntimeDirectoryName[] = "tarnwick";
constexpr const char kServiceRuntimeFolder[] = "/run/tarnwick";

// Where a client looks for the service when its own runtime folder has no server:
// TARNWICK_SERVICE_RUNTIME_DIR when set and not empty (tests), else kServiceRuntimeFolder.
// Native (UTF-8) path, no trailing '/'.
std::string GetServiceControlRuntimeFolder();

// The socket of a class id (the braced text) in the private runtime folder, or in
// `folder` (a native path without a trailing '/').
std::string GetControlSocketPath(const std::string& classId);
std::string GetControlSocketPath(const std::string& folder, const std::string& classId);

// Whether the user behind a peer's credentials may use the channel: the same user as
// this process, or root. `pid`, when given, gets the peer's process as it was when it
// connected: 0 when the system does not say (a process outside our view of the process
// table) or the peer is not trusted.
bool IsTrustedControlPeer(int fd, int* pid = nullptr);

}  // namespace platform
