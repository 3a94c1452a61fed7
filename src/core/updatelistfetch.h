#pragma once

#include "operation.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <memory>
#include <optional>

class BodyFetch;
class LauncherState;
class QObject;

// The update list fetched at start-up and, where the launcher needs it, its
// signature; then taken into the state (merged, config.xml saved) when it may
// be. A launcher built with the operator's public key takes a list only with its
// signature, and never an older or expired one; without a key every readable
// list is taken.
//
// It fails as an unusable answer when the list is too large, unreadable or
// refused (its box told, or shown by the merge), and plainly when the list or
// its signature could not be fetched.
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
    // The list fetched whole: its signature is fetched next, or it is taken.
    void listFetched();
    RunResult accept(const QByteArray &signature);

    LauncherState &state;
    QObject *boxParent;
    TransferPolicy policy;
    std::unique_ptr<BodyFetch> list;
    std::unique_ptr<BodyFetch> signature;
    std::optional<RunResult> ending;
};
