#include "messages.h"

#include "launcherlog.h"
#include "playertexts.h"

#include <QMessageLogger>

namespace {

QByteArray boxLine(const MessageBoxRequest &request)
{
    return QString(request.title + QLatin1String(": ") + request.text).toUtf8();
}

MessageBoxPresenter &installedPresenter()
{
    static MessageBoxPresenter presenter;
    return presenter;
}

} // namespace

MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter)
{
    MessageBoxPresenter previous = std::move(installedPresenter());
    installedPresenter() = std::move(presenter);
    return previous;
}

void presentMessageBox(const MessageBoxRequest &request)
{
    // Copied so that a presenter may replace itself while its box is open.
    const MessageBoxPresenter presenter = installedPresenter();
    if (presenter) {
        writeLogLine("Caixa " + boxLine(request));
        presenter(request);
    } else {
        consoleMessage(boxLine(request).constData()); // which logs it too
    }
}

void showErrorMessage(QObject *parent, const QString &text)
{
    presentMessageBox({parent, MessageBoxRequest::Icon::Warning, PlayerText::errorTitle, text});
}

void showErrorMessage(QObject *parent, const char *text)
{
    showErrorMessage(parent, QString::fromUtf8(text));
}

void consoleMessage(const char *text)
{
    QMessageLogger(__FILE__, __LINE__, Q_FUNC_INFO).debug("%s", text);
    writeLogLine(text);
}
