#pragma once

#include "operation.h"
#include "transfer/transferengine.h"

#include <QByteArray>

// One body fetched into memory past every cache: the update list or its
// signature, which keep their addresses from one release to the next. A body
// that grows past maximumSize is stopped and fails as an unusable answer.
class BodyFetch : public Operation
{
public:
    BodyFetch(const QByteArray &url, qint64 maximumSize, TransferPolicy policy);

    bool run(int waitMs) override;
    TransferProgress progress() const override;
    void stop(RunResult::Ending why) override;
    RunResult result() const override;

    const QByteArray &body() const { return engine.body(request); }

private:
    TransferEngine engine;
    std::size_t request;
    RunResult::Ending stoppedAs = RunResult::Ending::Closing;
};
