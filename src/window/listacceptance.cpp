// Whether the update list fetched at start-up may be merged. A launcher built
// with the operator's public key takes a list only with its signature, and never
// an older or expired one; without a key every readable list is taken.

#include "mainwindow.h"

#include "buildconfig.h"
#include "configsteps.h"
#include "filedownloader.h"
#include "launcherstate.h"
#include "listsignature.h"
#include "messages.h"
#include "playertexts.h"

#include <QDateTime>

namespace {

// A signature file is three short lines.
constexpr qint64 maximumSignatureSize = 4096;

} // namespace

ListAcceptance MainWindow::acceptUpdateList(const QByteArray &list)
{
    const QByteArray &publicKey = buildSettings().updateListPublicKey;
    if (publicKey.isEmpty())
        return mergeUpdateListAndSave(*launcherState, list.constData(), this) ? ListAcceptance::Merged
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
                         launcherState->acceptedListSerial, QDateTime::currentDateTimeUtc(), &serial);
    if (verdict != ListVerdict::Accepted) {
        showErrorMessage(this, PlayerText::listRefused(verdict));
        return ListAcceptance::Refused;
    }

    // Set before the merge, which saves config.xml with it.
    const std::optional<quint64> previousSerial = launcherState->acceptedListSerial;
    launcherState->acceptedListSerial = serial;
    if (!mergeUpdateListAndSave(*launcherState, list.constData(), this)) {
        launcherState->acceptedListSerial = previousSerial;
        return ListAcceptance::Refused;
    }
    return ListAcceptance::Merged;
}
