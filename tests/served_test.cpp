// Served as operators publish: over HTTPS with certificates that must verify,
// with mirrors for an address that fails, and with a log that support can read.

#include "boxrecorder.h"
#include "buildconfig.h"
#include "fetchfile.h"
#include "filedownloader.h"
#include "gamefolder.h"
#include "launcherlog.h"
#include "playertexts.h"
#include "testhttpserver.h"
#include "tlstestserver.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(TlsTestServer::Certificate)
Q_DECLARE_METATYPE(TestHttpServer::Reply)

class ServedTest : public QObject
{
    Q_OBJECT

private slots:
    void certificatesAreVerified_data()
    {
        QTest::addColumn<TlsTestServer::Certificate>("certificate");
        QTest::addColumn<bool>("fetched");
        QTest::newRow("from the trusted authority") << TlsTestServer::Certificate::Trusted << true;
        QTest::newRow("from another authority") << TlsTestServer::Certificate::FromAnotherAuthority << false;
        QTest::newRow("expired") << TlsTestServer::Certificate::Expired << false;
    }

    void certificatesAreVerified()
    {
        QFETCH(TlsTestServer::Certificate, certificate);
        QFETCH(bool, fetched);
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        writeFileBytes("lista.xml", "<download/>");
        TlsTestServer server(folder.path(), certificate);
        buildSettings().certificateAuthorityFile = server.authorityFile();
        FileDownloader downloader;
        const bool downloaded = downloader.downloadFile(server.url("/lista.xml").constData(), "Lista");
        buildSettings().certificateAuthorityFile.clear();

        QCOMPARE(downloaded, fetched);
        QCOMPARE(downloader.buffer, fetched ? QByteArray("<download/>") : QByteArray());
        // libcurl's 60: the peer's certificate did not verify.
        QCOMPARE(boxes.texts(), fetched ? QStringList() : QStringList{PlayerText::transferError(60)});
    }

    void mirrorsStandInForAFailingAddress_data()
    {
        QTest::addColumn<TestHttpServer::Reply>("first");
        QTest::addColumn<bool>("mirrorServes");
        QTest::addColumn<QString>("box");
        TestHttpServer::Reply notFound, cut, otherBytes;
        notFound.status = 404;
        cut.body = QByteArray(200 << 10, 'a');
        cut.closeAfterBytes = 1000;
        otherBytes.body = QByteArray(200 << 10, 'b');
        QTest::newRow("404") << notFound << true << QString();
        QTest::newRow("a cut connection") << cut << true << QString();
        QTest::newRow("bytes unlike the list's") << otherBytes << true << QString();
        QTest::newRow("every address fails") << notFound << false << PlayerText::serverError(404);
    }

    void mirrorsStandInForAFailingAddress()
    {
        QFETCH(TestHttpServer::Reply, first);
        QFETCH(bool, mirrorServes);
        QFETCH(QString, box);
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        QTemporaryDir site;
        const QByteArray body(200 << 10, 'a');
        QVERIFY(QDir(site.path()).mkdir("clientes") && QDir().mkdir("clientes"));
        writeFileBytes(site.filePath("clientes/a.dat"), body);
        TestHttpServer primary, mirror(mirrorServes ? site.path() : QString());
        primary.setReply("/clientes/a.dat", first);

        FileDownloader downloader;
        const FetchResult result =
            fetchFiles(downloader, {primary.url("/"), mirror.url("/")}, "clientes/",
                       {{"a.dat", "clientes/a.dat", {QByteArray::number(body.size()), sha256Hex(body)}}},
                       "Um", [](std::size_t) {});

        QCOMPARE(result, box.isEmpty() ? FetchResult::Stored : FetchResult::Failed);
        QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(QFile::exists("clientes/a.dat"), box.isEmpty());
        if (box.isEmpty()) {
            QCOMPARE(readFileBytes("clientes/a.dat"), body);
            // Support sees which address served the file.
            const QByteArray log = readFileBytes(QString::fromLatin1(logFileName));
            QVERIFY2(log.contains(mirror.url("/clientes/a.dat") + ": conclu\xc3\xad"
                                                                  "da") &&
                         log.contains("espelho 1"),
                     log.constData());
        }
    }

    // The log keeps its last lines in at most twice its limit, a line per event.
    void theLogKeepsItsNewestLines()
    {
        TemporaryGameFolder folder;
        const QByteArray filler(1000, 'x');
        for (int line = 0; line < 2500; ++line)
            writeLogLine(QByteArray::number(line) + filler);
        writeLogLine("uma\nlinha");
        const QByteArray current = readFileBytes(QString::fromLatin1(logFileName));
        const QByteArray previous = readFileBytes(QString::fromLatin1(previousLogFileName));
        QVERIFY(current.size() <= maximumLogBytes && previous.size() <= maximumLogBytes);
        QVERIFY(previous.size() > maximumLogBytes - 1100);
        QVERIFY(current.endsWith(" uma linha\n"));
        QVERIFY(!previous.contains(' ' + QByteArray::number(0) + filler));
        // Each line opens with its UTC time.
        QVERIFY(
            QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z \\d+x"))
                .match(QString::fromLatin1(current))
                .hasMatch());
    }
};

QTEST_MAIN(ServedTest)
#include "served_test.moc"
