#pragma once
// The controller's copy of the server's settings file Tarnwick.xml: loaded once at start,
// edited in memory by every page and dialog through the "Setting" accessor, written back
// whole on each confirmed change. The server reads the file only when it starts, so a save
// sets the changed flag that asks the user for a restart.
//
// A file that exists but cannot be read is never overwritten silently: the first save
// keeps it as Tarnwick.xml.bak. Nor is a file that someone else (a second controller, an
// editor) changed after the controller last read or wrote it: every save first compares
// the file's bytes with those and, when they differ, asks whether to read the file again,
// to overwrite it or to leave it.

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <functional>
#include <string>
#include <utility>

class CControllerSettings {
public:
    static constexpr const char* kFileName = "Tarnwick.xml";
    static constexpr const char* kBackupSuffix = ".bak";

    CControllerSettings();
    CControllerSettings(const CControllerSettings&) = delete;
    CControllerSettings& operator=(const CControllerSettings&) = delete;

    // Loads <serverRoot>Tarnwick.xml (serverRoot ends in '/'). An empty root means none is
    // known: the tree stays empty and Save writes nothing. A missing file leaves the tree
    // empty, so every reader takes its default.
    void Load(const std::string& serverRoot);
    // The file, "" when no root is known.
    const std::string& GetFilePath() const { return filePath_; }
    // Whether the file existed but could not be read; GetLoadError says why (CP932).
    bool LoadFailed() const { return loadFailed_; }
    const std::string& GetLoadError() const { return loadError_; }

    enum SaveResult : int {
        kSaved = 0,     // the file holds the tree; the changed flag is set
        kFailed = -1,   // nothing was written; `error` says why
        kReloaded = 1,  // the file had changed: the tree was read from it again, dropping
                        // every change not saved (a file that cannot be read as settings
                        // leaves it empty, as Load does)
        kNotSaved = 2,  // the file had changed and was left as it is; the tree keeps its
                        // changes, and the next Save asks again
    };
    // What the user chose for a file that changed since the controller last read or wrote it.
    enum class ChangedFileAnswer { Reload, Overwrite, Leave };

    // Writes the whole tree to the file and sets the changed flag. When the file's bytes
    // are no longer those last read or written (it appeared, vanished or changed, whatever
    // its time says), the changed-file question decides first; without one the file is
    // left. On failure nothing changes (flag included) and `error` (may be null) gets a
    // text naming the file and the reason. The save observer is told before Save returns.
    SaveResult Save(std::string* error);

    // Asked with the file's path (CP932) when a save finds the file changed. One question;
    // an empty one removes it.
    using ChangedFileQuestion = std::function<ChangedFileAnswer(const std::string& file)>;
    void SetChangedFileQuestion(ChangedFileQuestion question) { changedFileQuestion_ = std::move(question); }

    // Told at the end of every Save with its result and, for kFailed, the text Save gives
    // ("" otherwise). Pages and dialogs only save; the application, which installs the
    // observer, tells the user of a failure or of a file read again that holds no settings,
    // and redraws the window. One observer; an empty one removes it.
    using SaveObserver = std::function<void(SaveResult result, const std::string& error)>;
    void SetSaveObserver(SaveObserver observer) { saveObserver_ = std::move(observer); }

    // The "Setting" node to the backup tree and back; a property sheet brackets itself
    // with these so that Cancel undoes what its pages stored.
    void Snapshot();
    void Restore();

    // The text with %ServerName% ("Tarnwick") and %ServerRoot% replaced; other
    // placeholders stay as they are.
    static std::string ExpandServerPath(const std::string& text, const std::string& serverRoot);
    // The same with the root last given to Load ("" before the first Load).
    std::string ExpandServerPath(const std::string& text) const { return ExpandServerPath(text, serverRoot_); }

    CConfigClass& GetTree() { return tree_; }
    const CConfigAccessor& GetSetting() const { return setting_; }

    // 1 after a save, 0 after a restart of the server.
    int IsChanged() const { return changed_; }
    void ClearChanged() { changed_ = 0; }

private:
    // Whether the file is no longer as it was last read or written.
    bool FileChanged() const;
    SaveResult Told(SaveResult result, const std::string& error = "");

    CConfigClass tree_;
    CConfigAccessor setting_;
    CConfigClass backup_;
    std::string serverRoot_;
    std::string filePath_;
    bool loadFailed_ = false;
    std::string loadError_;
    bool keepOldFile_ = false;  // the unreadable file still waits to be kept as .bak
    // The file as last read or written: whether it was there, and its bytes ("" also when
    // it could not be read).
    bool filePresent_ = false;
    std::string fileBytes_;
    int changed_ = 0;
    ChangedFileQuestion changedFileQuestion_;
    SaveObserver saveObserver_;
};
