#include "updatelistfetch.h"

#include "buildconfig.h"
#include "listsignature.h"
#include "playertexts.h"
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

} // namespace

UpdateListFetch::UpdateListFetch(LauncherState &state, QObject *boxParent, TransferPolicy policy)
    : state(state), boxParent(boxParent), policy(policy)
{
    // A start tries again every address an earlier one found unreachable.
    forgetUnreachableAddresses();
    list = std::make_unique<BodyFetch>(buildSettings().updateListUrl, maximumUpdateListSize, policy);
}

UpdateListFetch::~UpdateListFetch() = default;

bool UpdateListFetch::run(int waitMs)
{
    if (ending)
        return false;
    if ((signature ? *signature : *list).run(waitMs))
        return true;
    if (!signature) {
        listFetched();
        return !ending;
    }
    const RunResult signed_ = signature->result();
    // A signature too large to be one is a bad one; one that could not be
    // fetched leaves the list as unfetched as a list that could not be.
    if (signed_.stopped() || (signed_.failed() && !signed_.unusableAnswer))
        ending = signed_;
    else
        ending = accept(signed_.succeeded() ? signature->body() : QByteArray());
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
    else if (!buildSettings().updateListPublicKey.isEmpty())
        signature =
            std::make_unique<BodyFetch>(buildSettings().updateListUrl + ".sig", maximumSignatureSize, policy);
    else
        ending = accept(QByteArray());
}

RunResult UpdateListFetch::accept(const QByteArray &signatureBytes)
{
    const QByteArray &publicKey = buildSettings().updateListPublicKey;
    std::optional<quint64> serial;
    if (!publicKey.isEmpty()) {
        quint64 signedSerial = 0;
        const ListVerdict verdict =
            verifyUpdateList(publicKey, list->body(), signatureBytes, state.acceptedListSerial,
                             QDateTime::currentDateTimeUtc(), &signedSerial);
        if (verdict != ListVerdict::Accepted)
            return unusableList(PlayerText::listRefused(verdict));
        serial = signedSerial;
    }
    return mergeUpdateListAndSave(state, list->body().constData(), boxParent, serial) ? RunResult()
                                                                                      : unusableList();
}

TransferProgress UpdateListFetch::progress() const
{
    return (signature ? *signature : *list).progress();
}

void UpdateListFetch::stop(RunResult::Ending why)
{
    (signature ? *signature : *list).stop(why);
}

RunResult UpdateListFetch::result() const
{
    return ending.value_or(RunResult());
}
