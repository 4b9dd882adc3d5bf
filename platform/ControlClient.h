#pragma once
// The client side of the control channel, in place of creating an out-of-process object:
// CreateServerControl binds to the process that serves kServerControlClsid, starting the
// registered server program or service when nothing serves it yet.

#include "ServerControlInterface.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// How long an activation waits for the started program or service to serve the class.
constexpr uint64_t kActivationTimeoutMs = 30000;
// The slowest call, StartServer, first stops a running core (its connections end within
// their own time-outs) and then loads the settings; a server silent for longer is hung.
constexpr uint64_t kDefaultCallTimeoutMs = 120000;

// Creates the control object.
//
// It first connects to the class's socket in the client's own runtime folder (ControlWire.h).
// When nothing listens there it tries the socket in the system service's runtime folder
// (GetServiceControlRuntimeFolder), where a service installed for this user serves. The
// server must run as the same user as the client, or as root (kCallFailed otherwise).
// When neither socket serves it reads the registration from the registry store:
// HKEY_CLASSES_ROOT\CLSID\{CLSID} must exist, else kClassNotRegistered. When the class's
// AppID (the AppID value of that key) has a LocalService value under
// HKEY_CLASSES_ROOT\AppID\{AppID}, it runs "systemctl start -- <service>" where systemd
// runs (kServerNotStarted where it does not, or when systemctl fails); otherwise it starts
// the default value of the LocalServer32 subkey (kClassNotRegistered when empty or
// missing) with the argument "-Embedding", in a session of its own with its standard input
// and output on /dev/null. It then tries both sockets again and again until
// activationTimeoutMs has passed (kServerNotStarted), and gives up early, after one last
// try, when the started program ends. A started program that keeps running is left alone
// and reaped in the background when it ends. What the started program writes to standard
// error is read until then, and ends the reason when it does not serve; afterwards its
// writes there fail (EPIPE).
//
// kOk sets *object; any failure leaves it null, and kCallFailed also says that a server was
// there but the binding broke or the server runs as another user. errorText (may be null)
// gets the reason, naming the socket, program or service (UTF-8).
//
// The object: each method sends its call and waits for the result at most callTimeoutMs
// (the request for the object itself included), returning the server's interface result
// with the value in the out-parameter. Calls are serialised, so the object may be used
// from several threads.
// - A time-out before any of the result came returns kCallTimedOut and keeps the
//   connection: later calls return kCallTimedOut at once until the late result has
//   arrived, which is then dropped, and calls go on as before. A stalled server (stopped,
//   swapped out) so keeps its client.
// - A broken connection or a garbled answer return kCallFailed with the out-parameter 0 or
//   empty. Calls in the next second fail at once; then a call first connects again to
//   whichever server serves the class now, in the order above but never starting one, and
//   asks it for a new object within the same bound (a time-out there is kept as above).
//   It fails at once while nothing serves.
// Destroying it releases the server's object: it tells the server so before it hangs up,
// so that the server can tell a client that is done from one whose channel broke.
long CreateServerControl(std::unique_ptr<IServerControl>* object, std::string* errorText = nullptr,
                         uint64_t activationTimeoutMs = kActivationTimeoutMs,
                         uint64_t callTimeoutMs = kDefaultCallTimeoutMs);

}  // namespace platform
