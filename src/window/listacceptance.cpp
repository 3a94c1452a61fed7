#include "listacceptance.h"

#include "buildconfig.h"
#include "state/configsteps.h"
#include "filedownloader.h"
#include "state/launcherstate.h"
#include "listsignature.h"
#include "messages.h"
#include "playertexts.h"

#include <QDateTime>
#include <QWidget>

namespace {

// A signature file is three short lines.
constexpr qint64 maximumSignatureSize = 4096;

} // namespace

ListAcceptance acceptUpdateList(LauncherState &state, const QByteArray &list, QWidget *window)
{
    const QByteArray &publicKey = buildSettings().updateListPublicKey;
    if (publicKey.isEmpty())
        return mergeUpdateListAndSave(state, list.constData(), window) ? ListAcceptance::Merged
                                                                       : ListAcceptance::Refused;

    FileDownloader signatureDownloader;
    signatureDownloader.maximumBodySize = maximumSignatureSize;
    const bool fetched =
        signatureDownloader.downloadFile((buildSettings().updateListUrl + ".sig").constData(), nullptr);
    if (!fetched && signatureDownloader.wasCancelled())
        return ListAcceptance::Cancelled;
    // A signature too large to be one is a bad one; one that could not be fetched
    // leaves the list as unfetched as a list that could not be.
    if (!fetched && !signatureDownloader.exceededMaximumBodySize())
        return ListAcceptance::NotFetched;

    quint64 serial = 0;
    const ListVerdict verdict =
        verifyUpdateList(publicKey, list, fetched ? signatureDownloader.buffer : QByteArray(),
                         state.acceptedListSerial, QDateTime::currentDateTimeUtc(), &serial);
    if (verdict != ListVerdict::Accepted) {
        showErrorMessage(window, PlayerText::listRefused(verdict));
        return ListAcceptance::Refused;
    }

    return mergeUpdateListAndSave(state, list.constData(), window, serial) ? ListAcceptance::Merged
                                                                           : ListAcceptance::Refused;
}
