#include "core/ControllerSettings.h"

#include "FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char kSettingNode[] = "Setting";
const char kNoRootText[] = "サーバのルートフォルダが分からないため、設定ファイルを保存できません。";

}  // namespace

CControllerSettings::CControllerSettings()
    : setting_(&tree_, kSettingNode)
{
}

void CControllerSettings::Load(const std::string& serverRoot)
{
    serverRoot_ = serverRoot;
    filePath_ = serverRoot.empty() ? std::string() : serverRoot + kFileName;
    loadFailed_ = false;
    loadError_.clear();
    keepOldFile_ = false;
    tree_.ClearNode("");
    if (!filePath_.empty()) {
        ConfigFileState state = ConfigFileState::Missing;
        std::string reason;
        tree_.LoadXml(filePath_, &state, &reason);
        if (state == ConfigFileState::Unreadable || state == ConfigFileState::Unrecognised) {
            loadFailed_ = keepOldFile_ = true;
            loadError_ = reason.empty() ? filePath_ : reason;
        }
    }
    setting_ = CConfigAccessor(&tree_, kSettingNode);
}

int CControllerSettings::Save(std::string* error)
{
    std::string reason;
    if (filePath_.empty()) {
        reason = kNoRootText;
    } else if (keepOldFile_) {
        const std::string native = platform::NativePath(filePath_);
        const std::string backup = native + kBackupSuffix;
        if (std::rename(native.c_str(), backup.c_str()) != 0 && errno != ENOENT)
            reason = filePath_ + kBackupSuffix + ": " + std::strerror(errno);
    }
    if (reason.empty() && tree_.SaveXml(filePath_, "", &reason) != 0 && reason.empty())
        reason = filePath_;
    if (reason.empty()) {
        keepOldFile_ = false;
        changed_ = 1;
    } else if (error) {
        *error = reason;
    }
    if (saveObserver_)
        saveObserver_(reason);
    return reason.empty() ? 0 : -1;
}

void CControllerSettings::Snapshot()
{
    CConfigAccessor(&backup_, kSettingNode).CopyFrom(setting_);
}

void CControllerSettings::Restore()
{
    setting_.CopyFrom(CConfigAccessor(&backup_, kSettingNode));
}

std::string CControllerSettings::ExpandServerPath(const std::string& text, const std::string& serverRoot)
{
    CConfigClass scratch;
    CConfigAccessor swap(&scratch, "Swap");
    swap.SetString("ServerName", "Tarnwick");
    swap.SetString("ServerRoot", serverRoot);
    return swap.ExpandVariables(text, "");
}
