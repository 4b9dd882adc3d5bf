#include "app/DebugModule.h"

#include "ControlHost.h"
#include "app/DebugHost.h"
#include "app/ServerApp.h"

#include "ConfigClass.h"
#include "FileIo.h"
#include "ModulePath.h"
#include "SharedModule.h"

namespace {

// The dialog's view of the application.
class CDebugHost : public IDebugHost {
public:
    CDebugHost(CServerApp& app, platform::ControlHost& control) : app_(app), control_(control) {}

    int StartServer() override { return app_.StartServer(); }
    void StopServer() override { app_.StopServer(); }
    std::string GetStatusText() override { return app_.GetStatusText(); }
    int IsServerRunning() override { return app_.IsServerRunning(); }
    int RegisterApp(int flag, std::string* error) override
    {
        const int result = app_.RegisterApp(flag);
        *error = app_.GetSetupFailureText();
        return result;
    }
    int RegisterService(int flag, std::string* error) override
    {
        const int result = app_.RegisterService(flag);
        *error = app_.GetSetupFailureText();
        return result;
    }
    void ServeControl() override { control_.ServeOnce(0); }

    int DumpTrees(std::string* error) override
    {
        // The marker texts are the trees' copies taken under their own locks; "" means
        // that there is no core, and then nothing is written.
        const std::string context = app_.GetServerContextText();
        const std::string info = app_.GetServerInfoText();
        if (context.empty() || info.empty())
            return 0;
        const std::string root = platform::GetModulePath(1);
        if (Save(context, root + "ContextDump.xml", error) != 0)
            return -1;
        return Save(info, root + "InfoDump.xml", error);
    }

private:
    static int Save(const std::string& text, const std::string& file, std::string* error)
    {
        CConfigClass tree;
        if (tree.LoadSerializedText(text) != 0) {
            *error = file + " : the tree could not be copied";
            return -1;
        }
        return tree.SaveXml(file, "", error);
    }

    CServerApp& app_;
    platform::ControlHost& control_;
};

// Beside the program, not in the server root, which TARNWICK_ROOT may move elsewhere.
std::string ModuleFile()
{
    const std::string program = platform::GetModulePath(0);
    const std::string::size_type slash = program.rfind('/');
    return (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) + kDebugModuleName;
}

// The module's entry point `name` as an `Entry`; null, with the reason, when the module or
// the entry point is missing. The module is never unloaded once an entry was found: Qt's
// libraries keep handlers that run at process exit.
template <class Entry>
Entry LoadEntry(const char* name, std::string* error)
{
    const std::string file = ModuleFile();
    void* module = platform::LoadSharedModule(file, error);
    if (!module) {
        *error = "デバッグ用モジュールを読み込めません : " + *error;
        return nullptr;
    }
    const auto entry = reinterpret_cast<Entry>(platform::FindModuleSymbol(module, name));
    if (!entry) {
        *error = file + " : " + name + " がありません";
        platform::UnloadSharedModule(module);
    }
    return entry;
}

}  // namespace

int RunDebugDialog(CServerApp& app, platform::ControlHost& control, std::string* error)
{
    const auto entry = LoadEntry<DebugEntry>(kDebugEntryName, error);
    if (!entry)
        return -1;
    CDebugHost host(app, control);
    return entry(&host, error);
}

int ShowDebugMessage(const std::string& text, std::string* error)
{
    const auto entry = LoadEntry<DebugMessageEntry>(kDebugMessageEntryName, error);
    return entry ? entry(&text, error) : -1;
}
