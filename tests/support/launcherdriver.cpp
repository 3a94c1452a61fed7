// The launcher's window in a process of its own, for tests that must kill it:
// it synchronises with the given update list, installs or updates one server as
// a click on its button would, and ends with 0 once that server can be played.

#include "buildconfig.h"
#include "mainwindow.h"
#include "messages.h"
#include "synchronisedwindow.h"

#include <QApplication>
#include <QPushButton>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s UPDATE_LIST_URL SERVER_ID\n", argv[0]);
        return 2;
    }
    buildSettings().updateListUrl = argv[1];
    const QByteArray server = argv[2];
    setMessageBoxPresenter(
        [](const MessageBoxRequest &box) { std::fprintf(stderr, "box: %s\n", qUtf8Printable(box.text)); });

    MainWindow window;
    window.show();
    waitUntilSynchronised(window);

    QMetaObject::invokeMethod(&window, QByteArray("on_button_server_" + server + "_clicked").constData());
    const auto *button = window.findChild<QPushButton *>(QString::fromLatin1("button_server_" + server));
    return button && button->text().endsWith(QLatin1String(" (Jogar)")) ? 0 : 1;
}
