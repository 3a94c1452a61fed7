#include "transfer/bodyfetch.h"

BodyFetch::BodyFetch(const QByteArray &url, qint64 maximumSize, TransferPolicy policy) : engine(policy)
{
    TransferRequest fromTheServer{url, QByteArray(), maximumSize, ContentCheck()};
    fromTheServer.fromOrigin = true;
    request = engine.add(std::move(fromTheServer));
}

bool BodyFetch::run(int waitMs)
{
    return engine.run(waitMs);
}

TransferProgress BodyFetch::progress() const
{
    return {engine.bytesStored(), engine.bytesExpected(), engine.bytesReceived()};
}

void BodyFetch::stop(RunResult::Ending why)
{
    stoppedAs = why;
    engine.cancel();
}

RunResult BodyFetch::result() const
{
    return RunResult::fromOutcome(engine.outcome(request), stoppedAs);
}
