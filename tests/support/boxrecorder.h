#pragma once

#include "messages.h"

#include <QStringList>

#include <vector>

// Records every box instead of showing it, answering as "OK" would, for as long
// as the object lives.
class BoxRecorder
{
public:
    BoxRecorder()
        : previous(setMessageBoxPresenter([this](const MessageBoxRequest &box) { boxes.push_back(box); }))
    {
    }
    ~BoxRecorder() { setMessageBoxPresenter(std::move(previous)); }
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    QStringList texts() const
    {
        QStringList result;
        for (const MessageBoxRequest &box : boxes)
            result << box.text;
        return result;
    }

    std::vector<MessageBoxRequest> boxes;

private:
    MessageBoxPresenter previous;
};
