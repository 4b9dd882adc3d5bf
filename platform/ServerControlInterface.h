#pragma once
// The server's control interface, as both sides see it: the ten methods through which a
// client (the controller) starts, stops and queries the server process. Every method
// returns kOk at the interface level and delivers its result in its out-parameter; texts
// cross as UTF-16.

#include <cstdint>
#include <string>

namespace platform {

// Interface-level results (in place of HRESULT): the call itself reached the server or not.
constexpr long kOk = 0;
constexpr long kCallFailed = -1;         // the connection to the server broke
constexpr long kClassNotRegistered = -2; // no server program is registered for the class
constexpr long kServerNotStarted = -3;   // the registered program did not come up in time
constexpr long kCallTimedOut = -4;       // the server did not answer in time; the connection stays

// The identifiers the registration and the activation use.
constexpr const char* kServerControlClsid = "{67A61D5D-122D-43C3-8BED-CB80CCCEBBB5}";
constexpr const char* kServerControlIid = "{9352667D-82A1-4A4B-83CB-E0B6C98B7976}";
constexpr const char* kServerControlLibid = "{D6D170EF-749D-494E-A6FA-056994024F32}";
constexpr const char* kServerControlAppId = "{53BED338-262D-477B-A927-53861BC1E214}";

// Dispatch identifiers, also the method numbers on the wire.
enum ServerControlDispId : int32_t {
    kDispStartServer = 1,
    kDispStopServer = 2,
    kDispGetServerErrorString = 3,
    kDispIsRunning = 4,
    kDispIsService = 5,
    kDispGetServerInfo = 6,
    kDispGetServerSetting = 7,
    kDispGetServerContext = 8,
    kDispGetServerRoot = 9,
    kDispIsActive = 10,
};

}  // namespace platform

class IServerControl {
public:
    virtual ~IServerControl() = default;
    virtual long StartServer(short* status) = 0;
    virtual long StopServer() = 0;
    virtual long GetServerErrorString(std::u16string* str) = 0;
    virtual long IsRunning(short* retval) = 0;
    virtual long IsService(short* ret) = 0;
    virtual long GetServerInfo(std::u16string* ret) = 0;
    virtual long GetServerSetting(std::u16string* ret) = 0;
    virtual long GetServerContext(std::u16string* ret) = 0;
    virtual long GetServerRoot(std::u16string* retpath) = 0;
    virtual long IsActive(short* ret) = 0;
};
