#pragma once
// The controller's copy of the server's settings file Tarnwick.xml: loaded once at start,
// edited in memory by every page and dialog through the "Setting" accessor, written back
// whole on each confirmed change. The server reads the file only when it starts, so a save
// sets the changed flag that asks the user for a restart.
//
// A file that exists but cannot be read is never overwritten silently: the first save
// keeps it as Tarnwick.xml.bak.

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

    // Writes the whole tree to the file and sets the changed flag: 0. On failure nothing
    // changes (flag included) and `error` (may be null) gets a text naming the file and
    // the reason: -1. Either way the save observer is told before Save returns.
    int Save(std::string* error);

    // Told at the end of every Save: `error` is "" when the file was written, else the
    // text Save gives. Pages and dialogs only save; the application, which installs the
    // observer, tells the user of a failure and redraws the restart notice. One observer;
    // an empty one removes it.
    using SaveObserver = std::function<void(const std::string& error)>;
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
    CConfigClass tree_;
    CConfigAccessor setting_;
    CConfigClass backup_;
    std::string serverRoot_;
    std::string filePath_;
    bool loadFailed_ = false;
    std::string loadError_;
    bool keepOldFile_ = false;  // the unreadable file still waits to be kept as .bak
    int changed_ = 0;
    SaveObserver saveObserver_;
};
