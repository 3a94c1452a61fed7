#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

struct TransferOutcome;

// How a run of work that fetches (the list, the pictures, the launcher's files,
// a server's install or repair) ended: the one value the core gives the window,
// which turns it into the texts of its phase.
struct RunResult {
    enum class Ending {
        Succeeded,
        Failed,          // told says what the player must be told first
        Closing,         // stopped because the window closes: nothing is shown
        StoppedByPlayer, // stopped at the player's request: nothing is shown
    };

    RunResult(Ending ending = Ending::Succeeded) : ending(ending) {}

    Ending ending;
    QString told;              // the failure's own box; empty when the phase tells it alone
    std::size_t committed = 0; // the items put in place before the run ended
    // The server answered, but with what the launcher cannot use (a body past its
    // limit, a list refused): the phase tells it apart from one not fetched.
    bool unusableAnswer = false;

    bool succeeded() const { return ending == Ending::Succeeded; }
    bool failed() const { return ending == Ending::Failed; }
    bool stopped() const { return ending == Ending::Closing || ending == Ending::StoppedByPlayer; }

    // What a request's outcome means for the run; a cancelled request ends it as
    // stoppedAs says.
    static RunResult fromOutcome(const TransferOutcome &outcome, Ending stoppedAs = Ending::Closing);
    // A name from the update list that the launcher will not use (logged here).
    static RunResult refusedName(const QByteArray &name);
    static RunResult failure(const QString &told);
};
