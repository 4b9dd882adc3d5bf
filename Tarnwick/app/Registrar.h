#pragma once
// The server's entries in the registry store (platform/RegistryStore.h): the control class
// with its ProgIDs and type library, the two AppID variants (desktop program or service),
// and the event-log source. The store is the one the environment names when a function
// is called.
//
// Layout written, under HKEY_CLASSES_ROOT:
//   Tarnwick.ServerControl.1            = "ServerControl Class"; subkey CLSID = the CLSID
//   Tarnwick.ServerControl              = "ServerControl Class"; subkeys CLSID, CurVer
//   CLSID\{CLSID}                       = "ServerControl Class", value AppID; subkeys ProgID,
//                                         VersionIndependentProgID, LocalServer32 (the
//                                         program's full path, unquoted, no arguments), TypeLib
//   TypeLib\{LIBID}                     = "MyTarnwickLib", value Module = the program's path
//   AppID\{AppID}                       = "Tarnwick" (the service variant adds the values
//                                         LocalService = "Tarnwick", ServiceParameters = "/Service")
//   AppID\Tarnwick.EXE                  value AppID (desktop variant only)
// The keys CLSID, TypeLib and AppID are shared with other programs and never removed; the
// keys CLSID\{CLSID}, TypeLib\{LIBID} and AppID\{AppID} are replaced whole on registration,
// so installing one AppID variant undoes the other. Every other key of these scripts is
// removed with everything below it on unregistration. Removing what is absent succeeds.
//
// Each function returns 0, or -1 when the store could not be written; then `error`, when
// given, gets the first failure's reason (platform::RegistryStore::ErrorText: the store, the
// key and the system's reason, CP932), and is left alone on success. Registration stops at
// the first failure; unregistration removes what it can and then reports.

#include <string>

// Registers (flag 1) or unregisters (flag 0) the class, its ProgIDs and its type library.
int RegisterServer(int flag, std::string* error = nullptr);

// Applies the desktop AppID script (the program is started as a control server) in register
// (flag 1) or unregister (flag 0) mode.
int ApplyDesktopAppIdScript(int flag, std::string* error = nullptr);

// Applies the service AppID script (clients start the service instead) in register (flag 1)
// or unregister (flag 0) mode.
int ApplyServiceAppIdScript(int flag, std::string* error = nullptr);

// The event-log source's key (kEventSourceKeyPath under HKEY_LOCAL_MACHINE), created when
// missing, with EventMessageFile = the program's full path and TypesSupported = 5. Written
// before every event is reported.
int WriteEventSourceKey();

// "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Tarnwick\\" (with the trailing
// backslash, which names the same key).
extern const char* const kEventSourceKeyPath;
