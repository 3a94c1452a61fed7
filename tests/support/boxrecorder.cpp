#include "boxrecorder.h"

BoxRecorder::BoxRecorder()
    : previous(setMessageBoxPresenter([this](const MessageBoxRequest &request) { boxes.push_back(request); }))
{
}

BoxRecorder::~BoxRecorder()
{
    setMessageBoxPresenter(std::move(previous));
}

QStringList BoxRecorder::texts() const
{
    QStringList result;
    for (const MessageBoxRequest &box : boxes)
        result << box.text;
    return result;
}
