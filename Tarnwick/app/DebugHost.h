#pragma once
// What the debug dialog sees of the server. The dialog lives in a module of its own
// (libtarnwick-debug.so, which links Qt Widgets) that the program loads only for "/Debug",
// so that every other mode starts where no display and no GUI libraries are. The module
// never links the server: it gets this interface, and the program keeps the object alive
// for the whole call of the entry point. Texts are CP932. Every call comes on the thread
// that called the entry point.

#include <string>

class IDebugHost {
public:
    // Stops a running server first; 0, or -1 with the reason in GetStatusText.
    virtual int StartServer() = 0;
    virtual void StopServer() = 0;
    virtual std::string GetStatusText() = 0;
    // 1 while a server core exists, else 0.
    virtual int IsServerRunning() = 0;
    // Writes the running core's context and information trees into the server root
    // (ContextDump.xml, InfoDump.xml), each whole and overwritten. Without a core nothing
    // is written and the result is 0; -1 when a file could not be written, with the
    // reason, naming the file, in *error.
    virtual int DumpTrees(std::string* error) = 0;
    // The install switches' halves (flag 1 installs, 0 removes): 0, or -1 after the
    // failure was reported, with what was reported in *error.
    virtual int RegisterApp(int flag, std::string* error) = 0;
    virtual int RegisterService(int flag, std::string* error) = 0;
    // Serves the control calls that are waiting, without waiting for more, so that a
    // controller can use the server while the dialog is open.
    virtual void ServeControl() = 0;

protected:
    ~IDebugHost() = default;
};

// The module's file name, looked up beside the program, and its entry points.
constexpr const char* kDebugModuleName = "libtarnwick-debug.so";
constexpr const char* kDebugEntryName = "TarnwickRunDebugDialog";
constexpr const char* kDebugMessageEntryName = "TarnwickShowDebugMessage";

// Runs the dialog until it is closed (Exit) and returns 0; returns -1 at once when it
// cannot be shown (no display), with the reason (CP932) in *error.
// The message entry shows `text` (CP932) in an error box until it is closed and returns 0,
// or fails as the dialog's does; for a "/Debug" run that ends before its dialog opens.
extern "C" {
using DebugEntry = int (*)(IDebugHost* host, std::string* error);
using DebugMessageEntry = int (*)(const std::string* text, std::string* error);
}
