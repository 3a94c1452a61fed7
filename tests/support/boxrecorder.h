#pragma once

#include "messages.h"

#include <QStringList>

#include <vector>

// Records every box instead of showing it, answering as "OK" would, for as long
// as the object lives.
class BoxRecorder
{
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    QStringList texts() const;

    std::vector<MessageBoxRequest> boxes;

private:
    MessageBoxPresenter previous;
};
