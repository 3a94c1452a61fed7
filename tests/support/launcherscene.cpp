#include "launcherscene.h"

#include "buildconfig.h"
#include "processend.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

#include <stdexcept>

LauncherScene::LauncherScene() : server(serverFolder.path()), previousListUrl(buildSettings().updateListUrl)
{
    QDir().mkdir(QStringLiteral("clientes"));
    QDir().mkdir(QStringLiteral("imagens"));
    buildSettings().updateListUrl = server.url("/launcher.xml");
    setProcessEnd([this](int status) { processEnds.push_back(status); });
}

LauncherScene::~LauncherScene()
{
    window.reset();
    setProcessEnd(nullptr);
    buildSettings().updateListUrl = previousListUrl;
}

void LauncherScene::publish(const QString &path, const QByteArray &contents)
{
    const QString full = QDir(serverFolder.path()).filePath(path);
    QDir().mkpath(QFileInfo(full).path());
    writeFileBytes(full, contents);
}

MainWindow &LauncherScene::startLauncher()
{
    if (!window)
        window = std::make_unique<MainWindow>(nullptr, transferPolicy);
    window->show();
    if (!QTest::qWaitFor(
            [this] {
                return widget<QProgressBar>("action_progressBar")->value() == 100 || !processEnds.empty();
            },
            20000))
        throw std::runtime_error("the start-up synchronisation did not finish");
    return *window;
}

void LauncherScene::clickServer(int id) const
{
    QTest::mouseClick(button(id), Qt::LeftButton);
    if (!QTest::qWaitFor([this] { return widget<QWidget>("frame_buttons")->isEnabled(); }, 20000))
        throw std::runtime_error("the server action did not finish");
}

QString LauncherScene::status() const
{
    return widget<QLabel>("label_status")->text();
}

QByteArrayList LauncherScene::requestedPaths() const
{
    QByteArrayList paths;
    for (const TestHttpServer::Request &request : server.requests())
        paths << request.path;
    return paths;
}
