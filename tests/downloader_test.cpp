// One HTTP GET against a real server on 127.0.0.1: what lands on disk, what stays
// in memory, which box the player sees, and the progress display.

#include "boxrecorder.h"
#include "clock.h"
#include "fetchfile.h"
#include "filedownloader.h"
#include "gamefolder.h"
#include "playertexts.h"
#include "partialfile.h"
#include "testhttpserver.h"
#include "transferengine.h"

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
    return entriesBesidesTheLog();
}

// Bytes that differ from place to place, so that a piece in the wrong place shows.
QByteArray patterned(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int at = 0; at < size; ++at)
        bytes[at] = char((at / 7 + seed) * 31);
    return bytes;
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

Q_DECLARE_METATYPE(std::vector<TestHttpServer::Reply>)

class DownloaderTest : public QObject
{
    Q_OBJECT

private slots:

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

    void progressShowsTheBarAlwaysAndTheSpeedOnceASecond()
    {
        QProgressBar bar;
        QLabel label;
        FileDownloader downloader;
        downloader.progressBar = &bar;
        downloader.statusLabel = &label;
        downloader.displayName = "Imagem";

        bar.setValue(7);
        downloader.showProgress(500, 0, 500); // size not known yet
        QCOMPARE(bar.value(), 7);
        QVERIFY(label.text().isEmpty());

        // 2048 KiB over two seconds is 1024 KB/s, not 2048; the bar follows what is
        // stored, the speed what was received.
        downloader.lastUpdateMs = currentTimeMs() - 2000;
        downloader.showProgress(3, 4, 2048 * 1024);
        QCOMPARE(bar.value(), 75);
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Baixando Imagem \\| Velocidade (\\d+) KB/s$"))
                .match(label.text());
        QVERIFY2(match.hasMatch(), qPrintable(label.text()));
        QVERIFY2(match.captured(1).toInt() >= 1000 && match.captured(1).toInt() <= 1024,
                 qPrintable(label.text()));

        // Within the second only the bar moves; without a name no text is written.
        downloader.lastUpdateMs = currentTimeMs() - 900;
        downloader.showProgress(100, 100, 3072 * 1024);
        QCOMPARE(bar.value(), 100);
        QCOMPARE(label.text(), match.captured(0));
        downloader.lastUpdateMs = 0;
        downloader.displayName = nullptr;
        downloader.showProgress(1, 4, 1);
        QCOMPARE(bar.value(), 25);
        QCOMPARE(label.text(), match.captured(0));
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

    // One file of 2 MiB whose transfer breaks, continued by the next try or the
    // next call; the server's answer to Range and If-Range decides what counts.
    void interruptedTransfersContinue_data()
    {
        QTest::addColumn<std::vector<TestHttpServer::Reply>>("replies");
        QTest::addColumn<bool>("damageKeptBytes");     // between a failed call and the next
        QTest::addColumn<QList<int>>("rangeRequests"); // per request: 0 whole, 1 from the kept bytes
        QTest::addColumn<qint64>("bytesSent");

        const QByteArray body = patterned(2 << 20);
        const QByteArray other = patterned(2 << 20, 7);
        const qint64 cut = (2 << 20) * 6 / 10;
        const auto reply = [](const QByteArray &bytes, const char *etag, qint64 cutAt = -1) {
            TestHttpServer::Reply answer;
            answer.body = bytes;
            answer.etag = etag;
            answer.closeAfterBytes = cutAt;
            return answer;
        };
        TestHttpServer::Reply ignoresRange = reply(body, "\"e1\"");
        ignoresRange.honourRange = false;
        TestHttpServer::Reply missing;
        missing.status = 404;

        QTest::newRow("cut, then continued") << std::vector{reply(body, "\"e1\"", cut), reply(body, "\"e1\"")}
                                             << false << QList<int>{0, 1} << qint64(body.size());
        QTest::newRow("file changed meanwhile")
            << std::vector{reply(other, "\"e0\"", cut), reply(body, "\"e1\"")} << false << QList<int>{0, 1}
            << cut + body.size();
        QTest::newRow("server ignores ranges") << std::vector{reply(body, "\"e1\"", cut), ignoresRange}
                                               << false << QList<int>{0, 1} << cut + body.size();
        QTest::newRow("kept bytes damaged by a power cut")
            << std::vector{reply(body, "\"e1\"", cut), missing, reply(body, "\"e1\"")} << true
            << QList<int>{0, 1, 1, 0} << qint64(body.size()) * 2;
    }

    void interruptedTransfersContinue()
    {
        QFETCH(std::vector<TestHttpServer::Reply>, replies);
        QFETCH(bool, damageKeptBytes);
        QFETCH(QList<int>, rangeRequests);
        QFETCH(qint64, bytesSent);
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server;
        server.setReplies("/f", replies);
        const QByteArray body = replies.back().body;

        FileDownloader downloader;
        downloader.localPath = "f.dat";
        downloader.expected = {QByteArray::number(body.size()),
                               QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex()};
        if (damageKeptBytes) {
            QVERIFY(!downloader.downloadFile(server.url("/f").constData(), "Jogo"));
            QCOMPARE(boxes.texts(), QStringList{PlayerText::serverError(404)});
            QByteArray kept = readFileBytes(QStringLiteral("f.dat.~part"));
            kept[100] = char(kept[100] ^ 1);
            writeFileBytes(QStringLiteral("f.dat.~part"), kept);
            boxes.boxes.clear();
        }
        QVERIFY(downloader.downloadFile(server.url("/f").constData(), "Jogo"));
        QCOMPARE(readFileBytes(QStringLiteral("f.dat")), body);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("f.dat")});
        QVERIFY(boxes.boxes.empty());

        const std::vector<TestHttpServer::Request> requests = server.requests();
        QCOMPARE(int(requests.size()), rangeRequests.size());
        qint64 sent = 0;
        for (std::size_t at = 0; at < requests.size(); ++at) {
            QCOMPARE(requests[at].range.isEmpty(), rangeRequests[int(at)] == 0);
            if (rangeRequests[int(at)])
                QCOMPARE(requests[at].ifRange, replies.front().etag);
            const qint64 from = requests[at].range.mid(6).split('-').value(0).toLongLong();
            const TestHttpServer::Reply &answer = replies[std::min(at, replies.size() - 1)];
            if (answer.status == 200) {
                const bool ranged = from > 0 && answer.honourRange && answer.etag == requests[at].ifRange;
                const qint64 end = answer.closeAfterBytes >= 0 ? answer.closeAfterBytes : answer.body.size();
                sent += end - (ranged ? from : 0);
            }
        }
        QCOMPARE(sent, bytesSent);
    }

    // Transient faults are tried again after growing pauses; others fail at once.
    void transientFaultsAreRetried_data()
    {
        QTest::addColumn<std::vector<TestHttpServer::Reply>>("replies");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<QByteArray>("localPath"); // empty keeps the body in memory

        const auto status = [](int code, const QByteArray &headers = QByteArray()) {
            TestHttpServer::Reply reply;
            reply.status = code;
            reply.extraHeaders = headers;
            return reply;
        };
        TestHttpServer::Reply cut = slowBody(3000, 1000, 0);
        cut.closeAfterBytes = 1500;
        const TestHttpServer::Reply served = slowBody(10, 10, 0);

        const QByteArray file = "f.dat";
        QTest::newRow("503 twice") << std::vector{status(503), status(503), served} << 10 << 3 << QString()
                                   << 0 << file;
        QTest::newRow("a body in memory cut off")
            << std::vector{cut, slowBody(3000, 1000, 0)} << 10 << 2 << QString() << 0 << QByteArray();
        QTest::newRow("500 every time, pauses of 100, 200, 400 ms")
            << std::vector{status(500)} << 100 << 4 << PlayerText::serverError(500) << 700 << file;
        QTest::newRow("Retry-After of a second")
            << std::vector{status(429, "Retry-After: 1\r\n"), served} << 10 << 2 << QString() << 1000 << file;
        QTest::newRow("404 at once") << std::vector{status(404)} << 1000 << 1 << PlayerText::serverError(404)
                                     << 0 << file;
        QTest::newRow("403 at once") << std::vector{status(403)} << 1000 << 1 << PlayerText::serverError(403)
                                     << 0 << file;
    }

    void transientFaultsAreRetried()
    {
        QFETCH(std::vector<TestHttpServer::Reply>, replies);
        QFETCH(int, pauseMs);
        QFETCH(int, requests);
        QFETCH(QString, box);
        QFETCH(int, atLeastMs);
        QFETCH(QByteArray, localPath);
        TemporaryGameFolder folder;
        TransferEngine::retryPauseMs = pauseMs;
        BoxRecorder boxes;
        TestHttpServer server;
        server.setReplies("/f", replies);

        FileDownloader downloader;
        downloader.localPath = localPath;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(downloader.downloadFile(server.url("/f").constData(), "Jogo"), box.isEmpty());
        if (localPath.isEmpty())
            QCOMPARE(downloader.buffer, replies.back().body);
        QVERIFY2(clock.elapsed() >= atLeastMs && clock.elapsed() < atLeastMs + 900,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(int(server.requests().size()), requests);
        QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    }

    // Files fetched side by side are put in place in their order: the first waits
    // for a slow answer while the others are complete beside their targets. The
    // first failure stops the commits; a large file still arriving stays as a
    // partial file and the next run continues it.
    void filesAreCommittedInTheirOrder()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        TestHttpServer server;
        server.setReply("/clientes/a", slowBody(300, 100, 150));
        TestHttpServer::Reply large = TestHttpServer::slowReply(patterned(2 << 20), 64 * 1024, 40);
        large.etag = "\"c1\"";
        server.setReply("/clientes/c", large);
        TestHttpServer::Reply missing = TestHttpServer::slowReply(QByteArray(30, 'x'), 10, 200);
        missing.status = 404;
        server.setReplies("/clientes/b", {missing, slowBody(20, 20, 0)});
        QVERIFY(QDir().mkdir(QStringLiteral("clientes")));
        const std::vector<FetchItem> items{
            {"a", "clientes/a", {}}, {"b", "clientes/b", {}}, {"c", "clientes/c", {"2097152", {}}}};

        std::vector<std::size_t> committed;
        const auto record = [&](std::size_t index) { committed.push_back(index); };
        FileDownloader downloader;
        std::size_t stoppedAt = 0;
        QCOMPARE(fetchFiles(downloader, {server.url("/")}, "clientes/", items, "Um", record, &stoppedAt),
                 FetchResult::Failed);
        QCOMPARE(committed, std::vector<std::size_t>{0});
        QCOMPARE(stoppedAt, std::size_t(1));
        QCOMPARE(boxes.texts(), QStringList{PlayerText::serverError(404)});
        QVERIFY(!QFile::exists(QStringLiteral("clientes/c")));
        const qint64 kept = QFileInfo(QStringLiteral("clientes/c.~part")).size();
        QVERIFY2(kept > 0 && kept < (2 << 20), qPrintable(QString::number(kept)));

        committed.clear();
        server.setReply("/clientes/a", slowBody(300, 100, 300));
        QCOMPARE(fetchFiles(downloader, {server.url("/")}, "clientes/", items, "Um",
                            [&](std::size_t index) {
                                // The later files arrived long before the first, and wait.
                                if (index == 0)
                                    QVERIFY(QFile::exists(QStringLiteral("clientes/b.~part")) &&
                                            !QFile::exists(QStringLiteral("clientes/b")));
                                record(index);
                            }),
                 FetchResult::Stored);
        QCOMPARE(committed, (std::vector<std::size_t>{0, 1, 2}));
        QCOMPARE(readFileBytes(QStringLiteral("clientes/c")), large.body);
        QByteArrayList rangesOfC;
        for (const TestHttpServer::Request &request : server.requests()) {
            if (request.path == "/clientes/c")
                rangesOfC << request.range;
        }
        QCOMPARE(rangesOfC, QByteArrayList({"", "bytes=" + QByteArray::number(kept) + '-'}));
        QCOMPARE(QDir(QStringLiteral("clientes")).entryList(QDir::Files),
                 (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    }
};

QTEST_MAIN(DownloaderTest)
#include "downloader_test.moc"
