#include "runresult.h"

#include "messages.h"
#include "playertexts.h"
#include "transfer/transferengine.h"

RunResult RunResult::fromOutcome(const TransferOutcome &outcome, Ending stoppedAs)
{
    switch (outcome.kind) {
    case TransferOutcome::Kind::Stored:
        break;
    case TransferOutcome::Kind::Cancelled:
        consoleMessage("Download cancelado");
        return {stoppedAs};
    case TransferOutcome::Kind::BodyTooLarge: {
        consoleMessage("Download interrompido: resposta maior que o limite");
        RunResult tooLarge{Ending::Failed};
        tooLarge.unusableAnswer = true;
        return tooLarge;
    }
    case TransferOutcome::Kind::HttpStatus:
        // Also for a body kept in memory: an error page of a CDN or a proxy may
        // be well-formed XML, and is no update list.
        return failure(PlayerText::serverError(outcome.httpStatus));
    case TransferOutcome::Kind::TransferError:
        return failure(PlayerText::transferError(outcome.transferError));
    case TransferOutcome::Kind::ContentMismatch:
        return failure(PlayerText::contentMismatch);
    case TransferOutcome::Kind::StoreError:
        return failure(PlayerText::inUse);
    }
    return {};
}

RunResult RunResult::refusedName(const QByteArray &name)
{
    consoleMessage(
        QByteArray("Nome recusado na lista de atualizações: " + name.toPercentEncoding("/")).constData());
    return failure(PlayerText::refusedName(name));
}

RunResult RunResult::failure(const QString &told)
{
    RunResult failed{Ending::Failed};
    failed.told = told;
    return failed;
}
