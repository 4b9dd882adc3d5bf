#include "app/Registrar.h"

#include "ModulePath.h"
#include "RegistryStore.h"
#include "RegistryTw.h"
#include "ServerControlInterface.h"

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

const char* const kEventSourceKeyPath = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Tarnwick\\";

namespace {

constexpr const char* kClassDescription = "ServerControl Class";
constexpr const char* kProgId = "Tarnwick.ServerControl.1";
constexpr const char* kVersionIndependentProgId = "Tarnwick.ServerControl";
constexpr const char* kTypeLibraryName = "MyTarnwickLib";
constexpr const char* kAppName = "Tarnwick";

// The event types the server reports: error (1) and information (4).
constexpr std::uint32_t kTypesSupported = 5;

// What unregistration does to a key, and whether registration clears it first.
enum class Removal {
    Normal,         // removed with everything below it
    NeverRemoved,   // shared with other programs: kept, only its listed subkeys go
    ReplacedWhole,  // cleared before registration, removed on unregistration
};

struct ScriptValue {
    std::string name;
    std::string data;
};

// One key of a registry script. Texts may hold %MODULE% and %APPID%.
struct ScriptKey {
    std::string name;
    Removal removal = Removal::Normal;
    bool hasDefault = false;
    std::string defaultValue;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subKeys;

    ScriptKey&& Default(std::string text) &&
    {
        hasDefault = true;
        defaultValue = std::move(text);
        return std::move(*this);
    }
    ScriptKey&& Value(std::string valueName, std::string text) &&
    {
        values.push_back({std::move(valueName), std::move(text)});
        return std::move(*this);
    }
    ScriptKey&& Sub(ScriptKey key) &&
    {
        subKeys.push_back(std::move(key));
        return std::move(*this);
    }
    ScriptKey&& Never() &&
    {
        removal = Removal::NeverRemoved;
        return std::move(*this);
    }
    ScriptKey&& Replaced() &&
    {
        removal = Removal::ReplacedWhole;
        return std::move(*this);
    }
};

ScriptKey Key(std::string name)
{
    ScriptKey key;
    key.name = std::move(name);
    return key;
}

std::vector<ScriptKey> ServerScript()
{
    const std::string clsid = platform::kServerControlClsid;
    std::vector<ScriptKey> script;
    script.push_back(Key(kProgId).Default(kClassDescription).Sub(Key("CLSID").Default(clsid)));
    script.push_back(Key(kVersionIndependentProgId)
                         .Default(kClassDescription)
                         .Sub(Key("CLSID").Default(clsid))
                         .Sub(Key("CurVer").Default(kProgId)));
    script.push_back(Key("CLSID").Never().Sub(Key(clsid)
                                                  .Replaced()
                                                  .Default(kClassDescription)
                                                  .Value("AppID", "%APPID%")
                                                  .Sub(Key("ProgID").Default(kProgId))
                                                  .Sub(Key("VersionIndependentProgID").Default(kVersionIndependentProgId))
                                                  .Sub(Key("LocalServer32").Default("%MODULE%"))
                                                  .Sub(Key("TypeLib").Default(platform::kServerControlLibid))));
    return script;
}

// The type library lives in the program itself; its key records where.
std::vector<ScriptKey> TypeLibraryScript()
{
    std::vector<ScriptKey> script;
    script.push_back(Key("TypeLib").Never().Sub(
        Key(platform::kServerControlLibid).Replaced().Default(kTypeLibraryName).Value("Module", "%MODULE%")));
    return script;
}

std::vector<ScriptKey> DesktopAppIdScript()
{
    std::vector<ScriptKey> script;
    script.push_back(Key("AppID")
                         .Never()
                         .Sub(Key("%APPID%").Replaced().Default(kAppName))
                         .Sub(Key("Tarnwick.EXE").Value("AppID", "%APPID%")));
    return script;
}

std::vector<ScriptKey> ServiceAppIdScript()
{
    std::vector<ScriptKey> script;
    script.push_back(Key("AppID").Never().Sub(Key("%APPID%")
                                                  .Replaced()
                                                  .Default(kAppName)
                                                  .Value("LocalService", kAppName)
                                                  .Value("ServiceParameters", "/Service")));
    return script;
}

class ScriptRunner {
public:
    ScriptRunner() : module_(platform::GetModulePath(0)), appId_(platform::kServerControlAppId) {}

    int Apply(const std::vector<ScriptKey>& script, int flag)
    {
        bool ok = true;
        for (const ScriptKey& key : script) {
            if (flag) {
                if (!Register(std::string(), key))
                    return -1;
            } else if (!Unregister(std::string(), key)) {
                ok = false;  // remove the rest all the same
            }
        }
        return ok ? 0 : -1;
    }

    // Gives the first failure's reason to `error` (when given) and passes `result` on.
    int Report(int result, std::string* error) const
    {
        if (result != 0 && error)
            *error = errorText_;
        return result;
    }

private:
    // One pass, so a replacement is never expanded again (a path may hold '%').
    std::string Expand(const std::string& text) const
    {
        static const std::string module = "%MODULE%";
        static const std::string appId = "%APPID%";
        std::string out;
        for (std::string::size_type i = 0; i < text.size();) {
            if (text.compare(i, module.size(), module) == 0) {
                out += module_;
                i += module.size();
            } else if (text.compare(i, appId.size(), appId) == 0) {
                out += appId_;
                i += appId.size();
            } else {
                out += text[i++];
            }
        }
        return out;
    }

    std::string PathOf(const std::string& parent, const ScriptKey& key) const
    {
        const std::string name = Expand(key.name);
        return parent.empty() ? name : parent + "\\" + name;
    }

    // Keeps the reason of the first failure, while errno still holds it; always false.
    bool Fail(const std::string& path)
    {
        const int error = errno;
        if (errorText_.empty())
            errorText_ = store_.ErrorText(kRoot, path, error);
        return false;
    }

    bool Register(const std::string& parent, const ScriptKey& key)
    {
        const std::string path = PathOf(parent, key);
        if (key.removal == Removal::ReplacedWhole && !store_.DeleteKeyTree(kRoot, path))
            return Fail(path);
        if (!store_.CreateKey(kRoot, path))
            return Fail(path);
        if (key.hasDefault && !store_.SetStringValue(kRoot, path, std::string(), Expand(key.defaultValue)))
            return Fail(path);
        for (const ScriptValue& value : key.values) {
            if (!store_.SetStringValue(kRoot, path, value.name, Expand(value.data)))
                return Fail(path);
        }
        for (const ScriptKey& sub : key.subKeys) {
            if (!Register(path, sub))
                return false;
        }
        return true;
    }

    bool Unregister(const std::string& parent, const ScriptKey& key)
    {
        const std::string path = PathOf(parent, key);
        if (key.removal != Removal::NeverRemoved)
            return store_.DeleteKeyTree(kRoot, path) || Fail(path);
        bool ok = true;
        for (const ScriptKey& sub : key.subKeys) {
            if (!Unregister(path, sub))
                ok = false;
        }
        return ok;
    }

    static constexpr platform::RegistryRoot kRoot = platform::HKEY_CLASSES_ROOT;

    platform::RegistryStore store_;
    const std::string module_;
    const std::string appId_;
    std::string errorText_;  // the first failure's, CP932
};

}  // namespace

int RegisterServer(int flag, std::string* error)
{
    ScriptRunner runner;
    const int server = runner.Apply(ServerScript(), flag);
    if (server != 0 && flag)
        return runner.Report(-1, error);
    const int typeLibrary = runner.Apply(TypeLibraryScript(), flag);
    return runner.Report(server == 0 && typeLibrary == 0 ? 0 : -1, error);
}

int ApplyDesktopAppIdScript(int flag, std::string* error)
{
    ScriptRunner runner;
    return runner.Report(runner.Apply(DesktopAppIdScript(), flag), error);
}

int ApplyServiceAppIdScript(int flag, std::string* error)
{
    ScriptRunner runner;
    return runner.Report(runner.Apply(ServiceAppIdScript(), flag), error);
}

int WriteEventSourceKey()
{
    CRegistryTw key;
    if (key.Open(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, "a") != 0)
        return -1;
    if (key.SetString("EventMessageFile", platform::GetModulePath(0)) != 0 ||
        key.SetDWord("TypesSupported", kTypesSupported) != 0)
        return -1;
    return 0;
}
