#include "configsteps.h"

#include "launcherstate.h"
#include "messages.h"

void showUnreadableListMessage(QWidget *parent)
{
    showErrorMessage(parent, QString::fromLatin1("N\xe3o foi poss\xedvel ler a lista de atualiza\xe7\xf5"
                                                 "es, por favor contate o suporte"));
}

bool loadConfigAndTell(LauncherState &state, QWidget *parent)
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
        showErrorMessage(parent,
                         QString::fromLatin1("N\xe3o foi poss\xedvel abrir o config.xml. O launcher "
                                             "continuar\xe1 sem salvar o progresso; feche os programas "
                                             "que possam estar usando o arquivo e reinicie o launcher"));
        return false;
    case ConfigLoad::Damaged:
        showUnreadableListMessage(parent);
        return false;
    }
    return false;
}

bool mergeUpdateListAndSave(LauncherState &state, const char *text, QWidget *parent)
{
    if (!state.mergeDocument(text)) {
        showUnreadableListMessage(parent);
        return false;
    }
    saveConfigOrTell(state, parent);
    return true;
}

bool saveConfigOrTell(const LauncherState &state, QWidget *parent)
{
    if (state.saveConfig())
        return true;
    // The progress of this run is not kept: the player must know.
    if (!state.configLocked())
        showErrorMessage(parent,
                         QString::fromLatin1("N\xe3o foi poss\xedvel salvar o progresso no config.xml. "
                                             "Verifique se h\xe1 espa\xe7o livre no disco e reinicie o "
                                             "launcher"));
    return false;
}
