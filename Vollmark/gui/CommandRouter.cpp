#include "gui/CommandRouter.h"

#include <QAction>

namespace gui {

CCommandRouter::CCommandRouter(Chain chain, QObject* parent) : QObject(parent), chain_(std::move(chain)) {}

void CCommandRouter::AddAction(QAction* action, int id)
{
    actions_.emplace_back(action, id);
    connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
    connect(action, &QObject::destroyed, this, [this, action] {
        for (auto it = actions_.begin(); it != actions_.end();) {
            it = it->first == action ? actions_.erase(it) : it + 1;
        }
    });
}

bool CCommandRouter::Execute(int id)
{
    for (CCmdTarget* target : chain_()) {
        if (target && target->HandlesCommand(id)) {
            // A disabled command does not run even when something triggers it directly.
            if (!target->IsCommandEnabled(id))
                return false;
            target->OnCommand(id);
            return true;
        }
    }
    return false;
}

bool CCommandRouter::IsEnabled(int id) const
{
    for (CCmdTarget* target : chain_()) {
        if (target && target->HandlesCommand(id))
            return target->IsCommandEnabled(id);
    }
    return false;
}

void CCommandRouter::UpdateActions()
{
    for (const auto& [action, id] : actions_)
        action->setEnabled(IsEnabled(id));
}

}  // namespace gui
