#include "messageboxes.h"

#include "messages.h"

#include <QMessageBox>

void useMessageBoxes()
{
    setMessageBoxPresenter([](const MessageBoxRequest &request) {
        if (request.icon == MessageBoxRequest::Icon::Information)
            QMessageBox::information(qobject_cast<QWidget *>(request.parent), request.title, request.text,
                                     QMessageBox::Ok, QMessageBox::NoButton);
        else
            QMessageBox::warning(qobject_cast<QWidget *>(request.parent), request.title, request.text,
                                 QMessageBox::Ok, QMessageBox::NoButton);
    });
}
