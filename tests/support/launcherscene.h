#pragma once

#include "boxrecorder.h"
#include "gamefolder.h"
#include "mainwindow.h"
#include "platformrecorder.h"
#include "testhttpserver.h"

#include <QObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>

#include <memory>

// Receives the links that the launcher hands to the desktop.
class LinkRecorder : public QObject
{
    Q_OBJECT

public:
    LinkRecorder();
    ~LinkRecorder() override;
    QList<QUrl> links;

public slots:
    void open(const QUrl &url);
};

// A game folder with "clientes" and "imagens", an update server on 127.0.0.1
// whose list is the launcher's, and a launcher window whose boxes, started
// programs, opened links and process end are recorded.
class LauncherScene
{
public:
    LauncherScene();
    ~LauncherScene();

    // Puts a file on the update server, below its root.
    void publish(const QString &path, const QByteArray &contents);
    // The update list; "BASE/" in it stands for the server's address.
    void publishList(QByteArray list);
    QByteArray base() const { return server.url("/"); }

    // Builds (unless the test did) and shows the window and waits until the
    // start-up synchronisation has finished.
    MainWindow &startLauncher();

    // Clicks server button id and waits until the buttons are handed back.
    void clickServer(int id) const;

    template <typename Widget> Widget *widget(const char *name) const
    {
        return window->findChild<Widget *>(QString::fromLatin1(name));
    }
    QPushButton *button(int id) const;
    QString caption(int id) const;
    QString status() const;
    QByteArrayList requestedPaths() const;
    // Files are fetched side by side: the order of their requests is not theirs.
    static QByteArrayList sorted(QByteArrayList paths)
    {
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    TemporaryGameFolder folder;
    QTemporaryDir serverFolder;
    TestHttpServer server;
    BoxRecorder boxes;
    PlatformRecorder platform;
    LinkRecorder opened;
    std::vector<int> processEnds;
    std::unique_ptr<MainWindow> window;

private:
    QByteArray previousListUrl;
};
