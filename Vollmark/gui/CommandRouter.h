#pragma once
// Menu and toolbar commands by number, routed as the windows expect: the active view is
// asked first, then the main frame, then the application. The first target that handles a
// command decides whether its action is enabled and runs it; a command that no target
// handles is disabled, so a menu item without a handler is never a dead click.

#include <QObject>

#include <functional>
#include <vector>

class QAction;

namespace gui {

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // The commands this target runs.
    virtual bool HandlesCommand(int /*id*/) const { return false; }
    virtual void OnCommand(int /*id*/) {}
    // Whether a command it handles can run now.
    virtual bool IsCommandEnabled(int /*id*/) const { return true; }
};

class CCommandRouter : public QObject {
    Q_OBJECT
public:
    // The targets in the order they are asked; asked anew for every command, since the
    // active view changes. Null entries are skipped.
    using Chain = std::function<std::vector<CCmdTarget*>()>;

    explicit CCommandRouter(Chain chain, QObject* parent = nullptr);

    // Triggering the action runs command `id`; UpdateActions sets its enabled state.
    void AddAction(QAction* action, int id);
    // Runs the command through the chain; false when no target handles it.
    bool Execute(int id);
    bool IsEnabled(int id) const;
    // Every bound action's enabled state, asked of the chain now.
    void UpdateActions();

private:
    Chain chain_;
    std::vector<std::pair<QAction*, int>> actions_;
};

}  // namespace gui
