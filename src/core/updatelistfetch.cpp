#include "updatelistfetch.h"

#include "buildconfig.h"
#include "listsignature.h"
#include "playertexts.h"
#include "rollout.h"
#include "state/playersettings.h"
#include "state/configsteps.h"
#include "state/launcherstate.h"
#include "transfer/bodyfetch.h"
#include "transfer/unreachableorigins.h"

#include <QDateTime>

namespace {

// A list of thousands of files stays far below this; a larger answer is no list,
// and reading it whole could exhaust the player's memory.
constexpr qint64 maximumUpdateListSize = 32 * 1024 * 1024;
// A signature file is three short lines.
constexpr qint64 maximumSignatureSize = 4096;

RunResult unusableList(const QString &told = QString())
{
    RunResult refused = RunResult::failure(told);
    refused.unusableAnswer = true;
    return refused;
}

// The list of the installation's channel: the players' at the build's address,
// a channel's beside it ("launcher.xml" becomes "launcher-teste.xml").
QByteArray updateListAddress()
{
    const QByteArray &players = buildSettings().updateListUrl;
    const QByteArray channel = loadPlayerSettings().channel;
    if (channel.isEmpty())
        return players;
    return players.endsWith(".xml") ? players.left(players.size() - 4) + '-' + channel + ".xml"
                                    : players + '-' + channel;
}

bool isSigned()
{
    return !buildSettings().updateListPublicKey.isEmpty() || !buildSettings().rootPublicKey.isEmpty();
}

} // namespace

UpdateListFetch::UpdateListFetch(LauncherState &state, QObject *boxParent, TransferPolicy policy)
    : state(state), boxParent(boxParent), policy(policy)
{
    // A start tries again every address an earlier one found unreachable.
    forgetUnreachableAddresses();
    address = updateListAddress();
    list = std::make_unique<BodyFetch>(address, maximumUpdateListSize, policy);
}

UpdateListFetch::~UpdateListFetch() = default;

BodyFetch &UpdateListFetch::current() const
{
    return keys ? *keys : signature ? *signature : *list;
}

bool UpdateListFetch::run(int waitMs)
{
    if (ending)
        return false;
    if (current().run(waitMs))
        return true;
    if (!signature) {
        listFetched();
        return !ending;
    }
    const RunResult fetched = current().result();
    // A signature or key document too large to be one is a bad one; one that
    // could not be fetched leaves the list as unfetched as a list that could not be.
    if (fetched.stopped() || (fetched.failed() && !fetched.unusableAnswer)) {
        ending = fetched;
        return false;
    }
    if (!keys && fetched.succeeded() && !buildSettings().rootPublicKey.isEmpty()) {
        keys = std::make_unique<BodyFetch>(address + ".keys", maximumListKeysSize, policy);
        return true;
    }
    ending = accept();
    return false;
}

void UpdateListFetch::listFetched()
{
    RunResult fetched = list->result();
    // A list too large to hold is as unreadable as a malformed one.
    if (fetched.failed() && fetched.unusableAnswer)
        fetched.told = PlayerText::unreadableList;
    if (!fetched.succeeded())
        ending = fetched;
    else if (isSigned())
        signature = std::make_unique<BodyFetch>(address + ".sig", maximumSignatureSize, policy);
    else
        ending = accept();
}

// The list keys: those of the key document where the launcher is built with the
// root's key, else its own.
std::optional<QByteArray> UpdateListFetch::listKeys(ListVerdict &verdict,
                                                    std::optional<quint64> &keysSerial) const
{
    if (buildSettings().rootPublicKey.isEmpty())
        return buildSettings().updateListPublicKey;
    quint64 serial = 0;
    QByteArray allowed;
    // A key document refused for whatever reason leaves the list without a valid
    // signature, and is told as such.
    if (verifyListKeys(buildSettings().rootPublicKey, keys && keys->result().succeeded() ? keys->body() : "",
                       state.acceptedKeysSerial, QDateTime::currentDateTimeUtc(), &serial,
                       &allowed) != ListVerdict::Accepted) {
        verdict = ListVerdict::BadSignature;
        return std::nullopt;
    }
    keysSerial = serial;
    return allowed;
}

RunResult UpdateListFetch::accept()
{
    std::optional<quint64> serial, keysSerial = state.acceptedKeysSerial;
    if (isSigned()) {
        ListVerdict verdict = ListVerdict::Accepted;
        const std::optional<QByteArray> allowed = listKeys(verdict, keysSerial);
        quint64 signedSerial = 0;
        if (allowed)
            verdict = verifyUpdateList(
                *allowed, list->body(), signature->result().succeeded() ? signature->body() : QByteArray(),
                state.acceptedListSerial, QDateTime::currentDateTimeUtc(), &signedSerial);
        if (verdict != ListVerdict::Accepted)
            return unusableList(PlayerText::listRefused(verdict));
        serial = signedSerial;
    }
    // A release rolled out to a share of the installations, which this one is
    // not among, leaves it the release before, which the list carries.
    QByteArray taken = list->body();
    if (const std::optional<Rollout> rollout = rolloutOf(taken);
        rollout && !takesRelease(installationBucket(), rollout->percent))
        taken = rollout->previousList;
    const std::optional<quint64> keptKeysSerial = state.acceptedKeysSerial;
    state.acceptedKeysSerial = keysSerial;
    if (mergeUpdateListAndSave(state, taken.constData(), boxParent, serial))
        return RunResult();
    state.acceptedKeysSerial = keptKeysSerial;
    return unusableList();
}

TransferProgress UpdateListFetch::progress() const
{
    return current().progress();
}

void UpdateListFetch::stop(RunResult::Ending why)
{
    current().stop(why);
}

RunResult UpdateListFetch::result() const
{
    return ending.value_or(RunResult());
}
