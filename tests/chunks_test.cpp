// Files published in chunks: cut where their content says, patched from what the
// player has, and fetched whole whenever a piece of the release is missing.

#include "boxrecorder.h"
#include "chunkindex.h"
#include "chunkpublisher.h"
#include "fetchfile.h"
#include "filedownloader.h"
#include "gamefolder.h"
#include "launcherscene.h"
#include "playertexts.h"
#include "testhttpserver.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <sys/stat.h>

namespace {

// What the server folder and the game folder look like before the update runs;
// items holds the file being updated, and may gain others.
using Scene = std::function<void(const QString &serverFolder, std::vector<FetchItem> &items)>;

} // namespace

Q_DECLARE_METATYPE(Scene)

class ChunksTest : public QObject
{
    Q_OBJECT

private slots:
    void updatesFetchWhatIsMissing_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<bool>("wholeFile");    // the whole file was fetched after all
        QTest::addColumn<int>("chunksAtMost");  // chunk requests
        QTest::addColumn<QString>("checkSays"); // what launcher-publish check finds

        const auto removeIndex = [](const QString &server, std::vector<FetchItem> &items) {
            QVERIFY(QFile::remove(server + QLatin1Char('/') +
                                  QString::fromLatin1(chunkIndexPath(items[0].expected.chunkIndexSha256))));
        };
        const auto damageChunks = [](const QString &server, std::vector<FetchItem> &) {
            QDirIterator chunks(server + QStringLiteral("/chunks"), QDir::Files,
                                QDirIterator::Subdirectories);
            while (chunks.hasNext()) {
                const QString path = chunks.next();
                if (!path.endsWith(QLatin1String(".idx")))
                    writeFileBytes(path, "not the chunk");
            }
        };
        const auto patchCutShort = [](const QString &server, std::vector<FetchItem> &) {
            // A power cut left the first half of the new file beside the old one.
            writeFileBytes(QStringLiteral("clientes/dados.pak.~part"),
                           readFileBytes(server + QStringLiteral("/clientes/dados.pak")).left(3 << 20));
        };
        const auto alreadyNew = [](const QString &server, std::vector<FetchItem> &) {
            writeFileBytes(QStringLiteral("clientes/dados.pak"),
                           readFileBytes(server + QStringLiteral("/clientes/dados.pak")));
        };
        const auto anotherFileShares = [](const QString &, std::vector<FetchItem> &) {
            QVERIFY(
                QFile::rename(QStringLiteral("clientes/dados.pak"), QStringLiteral("clientes/outro.pak")));
        };
        const auto unrelatedOldVersion = [](const QString &, std::vector<FetchItem> &) {
            writeFileBytes(QStringLiteral("clientes/dados.pak"), randomBytes(6 << 20, 4));
        };
        // Only a sixteenth of the new file is on disk: thousands of small requests
        // would cost more than they save.
        const auto smallShare = [](const QString &server, std::vector<FetchItem> &) {
            writeFileBytes(QStringLiteral("clientes/dados.pak"),
                           readFileBytes(server + QStringLiteral("/clientes/dados.pak")).left(6 << 16) +
                               randomBytes(6 << 20, 5));
        };
        // A first install: another new file of the release shares most chunks.
        const auto firstInstallSharing = [](const QString &server, std::vector<FetchItem> &items) {
            QVERIFY(QFile::remove(QStringLiteral("clientes/dados.pak")));
            const QString sibling = server + QStringLiteral("/clientes/antes.pak");
            const QByteArray bytes = readFileBytes(server + QStringLiteral("/clientes/dados.pak")).mid(4096);
            writeFileBytes(sibling, bytes);
            QString error;
            items.insert(items.begin(), {"antes.pak",
                                         "clientes/antes.pak",
                                         {QByteArray::number(bytes.size()), sha256Hex(bytes),
                                          publishInChunks(server, sibling, error).value_or(QByteArray())}});
        };
        QTest::newRow("1% changed") << Scene() << false << 30 << QString();
        QTest::newRow("new, sharing an installed file's chunks")
            << Scene(anotherFileShares) << false << 30 << QString();
        QTest::newRow("first install, two files sharing content")
            << Scene(firstInstallSharing) << false << 10 << QString();
        QTest::newRow("an unrelated old version") << Scene(unrelatedOldVersion) << true << 0 << QString();
        QTest::newRow("a sixteenth on disk") << Scene(smallShare) << true << 0 << QString();
        QTest::newRow("already the new version") << Scene(alreadyNew) << false << 0 << QString();
        QTest::newRow("index lost") << Scene(removeIndex) << true << 0 << QStringLiteral("não está na pasta");
        QTest::newRow("chunks damaged")
            << Scene(damageChunks) << true << 30 << QStringLiteral("falta ou está danificado");
        QTest::newRow("a patch cut short, continued") << Scene(patchCutShort) << false << 20 << QString();
    }

    void updatesFetchWhatIsMissing()
    {
        QFETCH(Scene, scene);
        QFETCH(bool, wholeFile);
        QFETCH(int, chunksAtMost);
        QFETCH(QString, checkSays);
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        QTemporaryDir serverFolder;
        TestHttpServer server(serverFolder.path());

        // Installed: the old version. Published: the new one, 1% of it changed in
        // scattered 4 KiB blocks.
        const QByteArray old = randomBytes(6 << 20, 3);
        QByteArray fresh = old;
        for (int block = 0; block < 15; ++block)
            fresh.replace(block * 400 * 1024 + 4096, 4096, randomBytes(4096, 100 + block));
        QVERIFY(QDir().mkdir(QStringLiteral("clientes")));
        writeFileBytes(QStringLiteral("clientes/dados.pak"), old);
        QVERIFY(QDir(serverFolder.path()).mkdir(QStringLiteral("clientes")));
        const QString published = serverFolder.filePath(QStringLiteral("clientes/dados.pak"));
        writeFileBytes(published, fresh);
        QString error;
        std::vector<FetchItem> items{
            {"dados.pak",
             "clientes/dados.pak",
             {QByteArray::number(fresh.size()), sha256Hex(fresh),
              publishInChunks(serverFolder.path(), published, error).value_or(QByteArray())}}};
        QVERIFY2(!items.back().expected.chunkIndexSha256.isEmpty(), qPrintable(error));
        if (scene)
            scene(serverFolder.path(), items);
        const ContentCheck &check = items.back().expected;
        const QString found =
            verifyChunks(serverFolder.path(), check.chunkIndexSha256, check.size, check.sha256);
        QVERIFY2(checkSays.isEmpty() ? found.isEmpty() : found.contains(checkSays), qPrintable(found));

        const auto inode = [] {
            struct stat target {
            };
            ::stat("clientes/dados.pak", &target);
            return target.st_ino;
        };
        const ino_t before = inode();
        FileDownloader downloader;
        QCOMPARE(fetchFiles(downloader, {server.url("/")}, "clientes/", items, "Um", [](std::size_t) {},
                            nullptr, {"clientes/outro.pak"}),
                 FetchResult::Stored);
        QCOMPARE(readFileBytes(QStringLiteral("clientes/dados.pak")), fresh);
        QCOMPARE(QDir(QStringLiteral("clientes"))
                     .entryList(QDir::Files | QDir::Hidden)
                     .filter(QStringLiteral("dados")),
                 QStringList{QStringLiteral("dados.pak")});
        QVERIFY(boxes.boxes.empty());
        int chunks = 0;
        bool whole = false;
        for (const TestHttpServer::Request &request : server.requests()) {
            chunks += request.path.startsWith("/chunks/") && !request.path.endsWith(".idx");
            whole = whole || request.path == "/clientes/dados.pak";
        }
        QCOMPARE(whole, wholeFile);
        QCOMPARE(inode() == before, chunksAtMost == 0 && !wholeFile); // a file already new stays as it is
        QVERIFY2(chunks <= chunksAtMost, qPrintable(QString::number(chunks)));
    }

    // A flipped byte in an installed client is found, and only its chunk fetched.
    void repairFetchesOnlyWhatIsDamaged()
    {
        LauncherScene scene;
        const QByteArray client = randomBytes(3 << 20, 5);
        scene.publish(QStringLiteral("clientes/dados.pak"), client);
        QString error;
        const QByteArray index =
            *publishInChunks(scene.serverFolder.path(),
                             scene.serverFolder.filePath(QStringLiteral("clientes/dados.pak")), error);
        scene.publishList("<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers>"
                          "<server id=\"1\" name=\"Um\" executable=\"dados.pak\"><file name=\"dados.pak\" "
                          "lastVersion=\"1\" size=\"" +
                          QByteArray::number(client.size()) + "\" sha256=\"" + sha256Hex(client) +
                          "\" chunks=\"" + index + "\"/></server></servers>");
        scene.startLauncher();
        scene.clickServer(1);
        const auto repair = [&] {
            scene.window->findChild<QAction *>(QStringLiteral("repair_server_1"))->trigger();
            return scene.widget<QLabel>("label_status")->text();
        };
        QCOMPARE(repair(), PlayerText::filesCorrect("Um"));

        QByteArray damaged = client;
        damaged[(2 << 20) + 77] = char(damaged[(2 << 20) + 77] ^ 1);
        writeFileBytes(QStringLiteral("clientes/dados.pak"), damaged);
        const int before = scene.requestedPaths().size();
        QCOMPARE(repair(), PlayerText::filesRepaired("Um"));
        QCOMPARE(readFileBytes(QStringLiteral("clientes/dados.pak")), client);
        const QByteArrayList fetched = scene.requestedPaths().mid(before);
        QCOMPARE(fetched.size(), 2); // the index and the one chunk
        QVERIFY(fetched.front().endsWith(".idx") && fetched.back().startsWith("/chunks/"));
        QVERIFY(scene.boxes.boxes.empty());
        QVERIFY(scene.platform.calls.isEmpty()); // nothing runs again
    }
};

QTEST_MAIN(ChunksTest)
#include "chunks_test.moc"
