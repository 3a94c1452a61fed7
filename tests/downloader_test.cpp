// One HTTP GET against a real server on 127.0.0.1: what lands on disk, what stays
// in memory, which box the player sees, and the progress display.

#include "boxrecorder.h"
#include "clock.h"
#include "filedownloader.h"
#include "gamefolder.h"
#include "playertexts.h"
#include "partialfile.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

namespace {

QStringList folderEntries()
{
    return QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

TestHttpServer::Reply slowBody(int bytes, int chunkBytes, int delayMs)
{
    return TestHttpServer::slowReply(QByteArray(bytes, 'x'), chunkBytes, delayMs);
}

qint64 peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class DownloaderTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { FileDownloader::stallTimeoutSeconds = 30; }

    void completeAnswerReplacesTheTarget()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server(folder.path());
        QDir().mkdir(QStringLiteral("clientes"));
        writeFileBytes(QStringLiteral("clientes/jogo.pak"), "old contents, longer than the new");
        TestHttpServer::Reply fresh;
        fresh.body = QByteArray("new\0contents", 12);
        server.setReply("/clientes/jogo.pak", fresh);
        server.setReply("/vazio", TestHttpServer::Reply());

        FileDownloader downloader;
        downloader.localPath = "clientes/jogo.pak";
        QVERIFY(downloader.downloadFile(server.url("/clientes/jogo.pak").constData(), "Jogo"));
        QCOMPARE(readFileBytes(QStringLiteral("clientes/jogo.pak")), fresh.body);

        downloader.localPath = "vazio.dat";
        QVERIFY(downloader.downloadFile(server.url("/vazio").constData(), "Jogo"));
        QCOMPARE(readFileBytes(QStringLiteral("vazio.dat")), QByteArray());

        QVERIFY(boxes.boxes.empty());
        QCOMPARE(QDir(QStringLiteral("clientes")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("jogo.pak")});
        for (const TestHttpServer::Request &request : server.requests())
            QCOMPARE(request.userAgent, QByteArray("Updater"));
    }

    void unwritableTargetIsReportedAsInUse()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server;
        server.setReply("/f", slowBody(1000, 1000, 0));
        QDir().mkdir(QStringLiteral("pasta"));

        FileDownloader downloader;
        for (const char *target : {"sem-pasta/f.dat", "pasta"}) { // a missing folder; a folder in the way
            downloader.localPath = target;
            QVERIFY2(!downloader.downloadFile(server.url("/f").constData(), "Jogo"), target);
        }
        QCOMPARE(boxes.texts(), QStringList({PlayerText::inUse, PlayerText::inUse}));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("pasta")});
        QVERIFY(QDir(QStringLiteral("pasta")).isEmpty());
    }

    void aLeftoverPartialFileIsReplaced()
    {
        TemporaryGameFolder folder;
        TestHttpServer server;
        server.setReply("/f", slowBody(10, 10, 0));
        writeFileBytes(QStringLiteral("f.dat") + QLatin1String(partialFileSuffix), "left by a crash");

        FileDownloader downloader;
        downloader.localPath = "f.dat";
        QVERIFY(downloader.downloadFile(server.url("/f").constData(), "Jogo"));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("f.dat")});
    }

    void aBodyUnlikeTheListIsNeverInstalled()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server;
        const QByteArray right = "the body the list describes";
        QByteArray flipped = right;
        flipped[5] = char(flipped[5] ^ 1);
        TestHttpServer::Reply reply;
        reply.body = flipped;
        server.setReply("/flipped", reply);
        reply.body = right;
        server.setReply("/right", reply);
        writeFileBytes(QStringLiteral("alvo.dat"), "old");

        FileDownloader downloader;
        downloader.localPath = "alvo.dat";
        downloader.expected = {QByteArray::number(right.size()),
                               QCryptographicHash::hash(right, QCryptographicHash::Sha256).toHex()};
        QVERIFY(!downloader.downloadFile(server.url("/flipped").constData(), "Jogo"));
        QCOMPARE(boxes.texts(), QStringList{PlayerText::contentMismatch});
        QCOMPARE(readFileBytes(QStringLiteral("alvo.dat")), QByteArray("old"));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("alvo.dat")});

        QVERIFY(downloader.downloadFile(server.url("/right").constData(), "Jogo"));
        QCOMPARE(readFileBytes(QStringLiteral("alvo.dat")), right);
    }

    void oneWriterAtATimePerTarget()
    {
        TemporaryGameFolder folder;
        writeFileBytes(QStringLiteral("config.xml"), "old");
        const auto first = PartialFile::create("config.xml");
        QVERIFY(first && first->write("first", 5));
        QVERIFY(!PartialFile::create("config.xml")); // as another launcher in the same folder would
        QVERIFY(first->commit());
        QCOMPARE(readFileBytes(QStringLiteral("config.xml")), QByteArray("first"));
        const auto second = PartialFile::create("config.xml");
        QVERIFY(second && second->write("second", 6) && second->commit());
        QCOMPARE(readFileBytes(QStringLiteral("config.xml")), QByteArray("second"));
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("config.xml")});
    }

    void cancelStopsATransferQuietly()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server;
        server.setReply("/slow", slowBody(1000000, 1000, 50));

        FileDownloader downloader;
        downloader.localPath = "alvo.dat";
        QElapsedTimer clock;
        QTimer::singleShot(300, [&] {
            clock.start();
            FileDownloader::cancelRunningTransfers();
        });
        QVERIFY(!downloader.downloadFile(server.url("/slow").constData(), "Jogo"));
        QVERIFY(clock.isValid());
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(downloader.wasCancelled());
        QVERIFY(boxes.boxes.empty());
        QVERIFY(folderEntries().isEmpty());

        // The next transfer of the same object is not affected.
        server.setReply("/fast", slowBody(10, 10, 0));
        QVERIFY(downloader.downloadFile(server.url("/fast").constData(), "Jogo"));
    }

    void progressBarFollowsTheBytesReceived()
    {
        QProgressBar bar;
        QLabel label;
        FileDownloader downloader;
        downloader.progressBar = &bar;
        downloader.statusLabel = &label;
        downloader.displayName = "Imagem";

        bar.setValue(7);
        FileDownloader::reportProgress(&downloader, 0, 500, 0, 0); // size not announced
        QCOMPARE(bar.value(), 7);
        QVERIFY(label.text().isEmpty());

        const std::pair<curl_off_t, int> cases[] = {{1, 33}, {2, 66}, {3, 100}};
        for (const auto &[received, percent] : cases) {
            FileDownloader::reportProgress(&downloader, 3, received, 0, 0);
            QCOMPARE(bar.value(), percent);
        }
        FileDownloader::reportProgress(&downloader, 100, 29, 0, 0);
        QCOMPARE(bar.value(), 29);

        // Without a label or a name the bar still moves and no text is written.
        label.clear();
        downloader.lastUpdateMs = 0;
        downloader.displayName = nullptr;
        FileDownloader::reportProgress(&downloader, 4, 1, 0, 0);
        QCOMPARE(bar.value(), 25);
        downloader.displayName = "Imagem";
        downloader.statusLabel = nullptr;
        FileDownloader::reportProgress(&downloader, 4, 2, 0, 0);
        QCOMPARE(bar.value(), 50);
        QVERIFY(label.text().isEmpty());
    }

    void speedIsPerSecondAndWrittenAtMostOnceASecond()
    {
        QProgressBar bar;
        QLabel label;
        FileDownloader downloader;
        downloader.progressBar = &bar;
        downloader.statusLabel = &label;
        downloader.displayName = "Imagem";

        // 2048 KiB over two seconds is 1024 KB/s, not 2048.
        downloader.lastUpdateMs = currentTimeMs() - 2000;
        downloader.lastUpdateBytes = 0;
        FileDownloader::reportProgress(&downloader, 4096 * 1024, 2048 * 1024, 0, 0);
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Baixando Imagem \\| Velocidade (\\d+) KB/s$"))
                .match(label.text());
        QVERIFY2(match.hasMatch(), qPrintable(label.text()));
        QVERIFY2(match.captured(1).toInt() >= 1000 && match.captured(1).toInt() <= 1024,
                 qPrintable(label.text()));
        QCOMPARE(downloader.lastUpdateBytes, curl_off_t(2048 * 1024));

        // Within the second only the bar moves.
        downloader.lastUpdateMs = currentTimeMs() - 900;
        FileDownloader::reportProgress(&downloader, 4096 * 1024, 3072 * 1024, 0, 0);
        QCOMPARE(bar.value(), 75);
        QVERIFY(label.text() == match.captured(0));
    }

    void slowTransferKeepsTheWindowAliveAndShowsItsSpeed()
    {
        TemporaryGameFolder folder;
        TestHttpServer server;
        server.setReply("/slow", slowBody(60000, 2000, 50)); // about 40 KB/s for 1.5 s

        QProgressBar bar;
        QLabel label;
        FileDownloader downloader;
        downloader.progressBar = &bar;
        downloader.statusLabel = &label;
        downloader.localPath = "alvo.dat";
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);

        QVERIFY(downloader.downloadFile(server.url("/slow").constData(), "Servidor 1"));
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
        QCOMPARE(bar.value(), 100);
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Baixando Servidor 1 \\| Velocidade (\\d+) KB/s$"))
                .match(label.text());
        QVERIFY2(match.hasMatch(), qPrintable(label.text()));
        QVERIFY2(match.captured(1).toInt() > 10 && match.captured(1).toInt() < 200, qPrintable(label.text()));
    }

    void everyCallStartsAfresh()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server;
        server.setReply("/a", slowBody(3000, 1000, 0));

        QProgressBar bar;
        QLabel label;
        FileDownloader downloader;
        downloader.progressBar = &bar;
        downloader.statusLabel = &label;
        QVERIFY(downloader.downloadFile(server.url("/a").constData(), "Um"));
        QCOMPARE(downloader.buffer.size(), 3000);
        QVERIFY(downloader.lastUpdateMs != 0);

        QVERIFY(!downloader.downloadFile("http://127.0.0.1:1/x", "Dois")); // nothing listens there
        QVERIFY(downloader.buffer.isEmpty());
        QCOMPARE(downloader.lastUpdateMs, qint64(0));
        QCOMPARE(downloader.lastUpdateBytes, qint64(0));
        QCOMPARE(QByteArray(downloader.displayName), QByteArray("Dois"));
        QCOMPARE(boxes.boxes.front().parent, static_cast<QWidget *>(&label));
    }

    void memoryDoesNotGrowWithTheFileSize()
    {
        const qint64 mebibytes = qEnvironmentVariableIntValue("LAUNCHER_TEST_BIG_FILE_MIB") > 0
                                     ? qEnvironmentVariableIntValue("LAUNCHER_TEST_BIG_FILE_MIB")
                                     : 256;
        TemporaryGameFolder folder;
        {
            QFile big(QStringLiteral("served.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(mebibytes * 1024 * 1024));
        }
        TestHttpServer server(folder.path());
        QProgressBar bar;
        QLabel label;
        FileDownloader downloader;
        downloader.progressBar = &bar;
        downloader.statusLabel = &label;
        downloader.localPath = "downloaded.bin";

        const qint64 before = peakResidentKilobytes();
        QVERIFY(downloader.downloadFile(server.url("/served.bin").constData(), "Grande"));
        const qint64 growth = peakResidentKilobytes() - before;
        qInfo("peak resident memory %lld KiB, grew by %lld KiB for %lld MiB", peakResidentKilobytes(), growth,
              mebibytes);
        QCOMPARE(QFileInfo(QStringLiteral("downloaded.bin")).size(), mebibytes * 1024 * 1024);
        QVERIFY(growth < 32 * 1024);
    }
};

QTEST_MAIN(DownloaderTest)
#include "downloader_test.moc"
