#include "core/ControllerSettings.h"

#include "FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

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
    filePresent_ = false;
    fileBytes_.clear();
    tree_.ClearNode("");
    if (!filePath_.empty()) {
        ConfigFileState state = ConfigFileState::Missing;
        std::string reason;
        tree_.LoadXml(filePath_, &state, &reason, &fileBytes_);
        filePresent_ = state != ConfigFileState::Missing;
        if (state == ConfigFileState::Unreadable || state == ConfigFileState::Unrecognised) {
            loadFailed_ = keepOldFile_ = true;
            loadError_ = reason.empty() ? filePath_ : reason;
        }
    }
    setting_ = CConfigAccessor(&tree_, kSettingNode);
}

bool CControllerSettings::FileChanged() const
{
    std::string bytes, reason;
    const bool present = platform::ReadWholeFile(filePath_, bytes, reason) != platform::FileReadResult::Missing;
    return present != filePresent_ || bytes != fileBytes_;
}

CControllerSettings::SaveResult CControllerSettings::Told(SaveResult result, const std::string& error)
{
    if (saveObserver_)
        saveObserver_(result, error);
    return result;
}

CControllerSettings::SaveResult CControllerSettings::Save(std::string* error)
{
    std::string reason;
    if (filePath_.empty()) {
        reason = kNoRootText;
    } else if (FileChanged()) {
        switch (changedFileQuestion_ ? changedFileQuestion_(filePath_) : ChangedFileAnswer::Leave) {
        case ChangedFileAnswer::Reload:
            Load(serverRoot_);
            return Told(kReloaded);
        case ChangedFileAnswer::Leave:
            return Told(kNotSaved);
        case ChangedFileAnswer::Overwrite:
            break;
        }
    }
    if (reason.empty() && keepOldFile_) {
        const std::string native = platform::NativePath(filePath_);
        const std::string backup = native + kBackupSuffix;
        if (std::rename(native.c_str(), backup.c_str()) != 0 && errno != ENOENT)
            reason = filePath_ + kBackupSuffix + ": " + std::strerror(errno);
    }
    std::string written;
    if (reason.empty() && tree_.SaveXml(filePath_, "", &reason, &written) != 0 && reason.empty())
        reason = filePath_;
    if (!reason.empty()) {
        if (error)
            *error = reason;
        return Told(kFailed, reason);
    }
    keepOldFile_ = false;
    filePresent_ = true;
    fileBytes_ = std::move(written);
    changed_ = 1;
    return Told(kSaved);
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
