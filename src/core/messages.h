#pragma once

#include <QString>

#include <functional>

class QObject;

// Every box the launcher shows passes through one presenter. The window installs
// one that shows real modal boxes; without it (update mode has no application
// object) a box is written to the debug output instead. Tests install a recorder.
struct MessageBoxRequest {
    enum class Icon { Warning, Information };

    QObject *parent = nullptr;
    Icon icon = Icon::Warning;
    QString title;
    QString text;
};

using MessageBoxPresenter = std::function<void(const MessageBoxRequest &)>;

// Installs a presenter and returns the one it replaces. An empty presenter brings
// back the debug-output fallback.
MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter);

// Shows a box and returns once the player has closed it.
void presentMessageBox(const MessageBoxRequest &request);

// The warning box titled "Erro" with the single button "OK".
void showErrorMessage(QObject *parent, const QString &text);
void showErrorMessage(QObject *parent, const char *text);

// One line on the debug output, written unchanged (never read as a format).
void consoleMessage(const char *text);
