#include "state/configsteps.h"

#include "state/launcherstate.h"
#include "messages.h"
#include "playertexts.h"

void showUnreadableListMessage(QObject *parent)
{
    showErrorMessage(parent, PlayerText::unreadableList);
}

bool loadConfigAndTell(LauncherState &state, QObject *parent)
{
    switch (state.loadConfig()) {
    case ConfigLoad::Current:
        return true;
    case ConfigLoad::Outdated:
        state.saveConfig();
        return true;
    case ConfigLoad::Missing:
        return state.saveConfig();
    case ConfigLoad::Locked:
        showErrorMessage(parent, PlayerText::configLocked);
        return false;
    case ConfigLoad::Damaged:
        showUnreadableListMessage(parent);
        return false;
    }
    return false;
}

bool mergeUpdateListAndSave(LauncherState &state, const char *text, QObject *parent,
                            std::optional<quint64> signedSerial)
{
    if (!state.mergeDocument(text, signedSerial)) {
        showUnreadableListMessage(parent);
        return false;
    }
    saveConfigOrTell(state, parent);
    return true;
}

bool saveConfigOrTell(const LauncherState &state, QObject *parent)
{
    if (state.saveConfig())
        return true;
    // The progress of this run is not kept: the player must know.
    if (!state.configLocked())
        showErrorMessage(parent, PlayerText::progressNotSaved);
    return false;
}
