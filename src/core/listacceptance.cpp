#include "listacceptance.h"

#include "buildconfig.h"
#include "listsignature.h"
#include "playertexts.h"
#include "state/configsteps.h"
#include "state/launcherstate.h"

#include <QDateTime>

namespace {

RunResult unusableList(const QString &told = QString())
{
    RunResult refused = RunResult::failure(told);
    refused.unusableAnswer = true;
    return refused;
}

} // namespace

bool listNeedsSignature()
{
    return !buildSettings().updateListPublicKey.isEmpty();
}

RunResult acceptUpdateList(LauncherState &state, const QByteArray &list, const QByteArray &signature,
                           QObject *boxParent)
{
    std::optional<quint64> serial;
    if (listNeedsSignature()) {
        quint64 signedSerial = 0;
        const ListVerdict verdict =
            verifyUpdateList(buildSettings().updateListPublicKey, list, signature, state.acceptedListSerial,
                             QDateTime::currentDateTimeUtc(), &signedSerial);
        if (verdict != ListVerdict::Accepted)
            return unusableList(PlayerText::listRefused(verdict));
        serial = signedSerial;
    }
    return mergeUpdateListAndSave(state, list.constData(), boxParent, serial) ? RunResult() : unusableList();
}
