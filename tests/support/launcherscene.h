#pragma once

#include "boxrecorder.h"
#include "gamefolder.h"
#include "mainwindow.h"
#include "platformrecorder.h"
#include "testhttpserver.h"

#include <QDesktopServices>
#include <QObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <memory>

// Receives the links that the launcher hands to the desktop, of any scheme, so
// that a test sees any that the launcher should never have opened.
class LinkRecorder : public QObject
{
    Q_OBJECT

public:
    LinkRecorder()
    {
        for (const char *scheme : schemes)
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~LinkRecorder() override
    {
        for (const char *scheme : schemes)
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
    QList<QUrl> links;

public slots:
    void open(const QUrl &url) { links << url; }

private:
    static constexpr const char *schemes[] = {"http", "https", "file", "javascript"};
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
    void publishList(QByteArray list) { publish("launcher.xml", list.replace("BASE/", base())); }
    QByteArray base() const { return server.url("/"); }

    // Builds (unless the test did) and shows the window and waits until the
    // start-up synchronisation has finished.
    MainWindow &startLauncher();
    // Clicks server button id and waits until the buttons are handed back.
    void clickServer(int id) const;

    template <typename Widget> Widget *widget(const QByteArray &name) const
    {
        return window->findChild<Widget *>(QString::fromLatin1(name));
    }
    QPushButton *button(int id) const
    {
        return widget<QPushButton>("button_server_" + QByteArray::number(id));
    }
    QString caption(int id) const { return button(id)->text(); }
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
    TransferPolicy transferPolicy = testTransferPolicy();
    std::unique_ptr<MainWindow> window;

private:
    QByteArray previousListUrl;
};
