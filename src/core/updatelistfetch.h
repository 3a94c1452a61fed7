#pragma once

#include "operation.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <memory>
#include <optional>

class BodyFetch;
enum class ListVerdict;
class LauncherState;
class QObject;

// The update list fetched at start-up and, where the launcher needs them, its
// signature and the key document naming the list keys; then taken into the state
// (merged, config.xml saved) when it may be. A launcher built with the
// operator's public key, or with the root key that signs key documents, takes a
// list only with its signature, and never an older or expired one (nor an older
// or expired key document); without a key every readable list is taken. The
// list is the installation's channel's (launcher.ini), and of a release rolled
// out to a share of the installations the one this installation's bucket takes.
//
// It fails as an unusable answer when the list is too large, unreadable or
// refused (its box told, or shown by the merge), and plainly when the list, its
// signature or its key document could not be fetched.
class UpdateListFetch : public Operation
{
public:
    UpdateListFetch(LauncherState &state, QObject *boxParent, TransferPolicy policy);
    ~UpdateListFetch() override;

    bool run(int waitMs) override;
    TransferProgress progress() const override;
    void stop(RunResult::Ending why) override;
    RunResult result() const override;

private:
    BodyFetch &current() const;
    // The list fetched whole: its signature is fetched next, or it is taken.
    void listFetched();
    std::optional<QByteArray> listKeys(ListVerdict &verdict, std::optional<quint64> &keysSerial) const;
    RunResult accept();

    LauncherState &state;
    QObject *boxParent;
    TransferPolicy policy;
    QByteArray address;
    std::unique_ptr<BodyFetch> list;
    std::unique_ptr<BodyFetch> signature;
    std::unique_ptr<BodyFetch> keys; // the key document, where the build has the root's key
    std::optional<RunResult> ending;
};
