// Update lists written to harm: names that try to leave their folder or reach a
// shell, and lists built to exhaust time or memory.

#include "launcherscene.h"
#include "names.h"
#include "processmemory.h"
#include "reliability.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

namespace {

QByteArray serverWithFiles(int count)
{
    QByteArray files;
    for (int i = 0; i < count; ++i)
        files += "<file name=\"arquivo-" + QByteArray::number(i) + ".dat\" lastVersion=\"1\"/>";
    return "<launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"Muitos\">" + files +
           "</server></servers>";
}

} // namespace

class HostileTest : public QObject
{
    Q_OBJECT

private slots:
    void namesThatWouldLeaveTheirFolderAreRefused()
    {
        const QByteArrayList hostile = {"..",
                                        "../x",
                                        "../../x",
                                        "a/../../x",
                                        "a/..",
                                        "./../x",
                                        "..\\x",
                                        "a\\..\\..\\x",
                                        "/etc/passwd",
                                        "\\windows\\x",
                                        "//servidor/x",
                                        "\\\\servidor\\x",
                                        "C:\\x",
                                        "C:x",
                                        "c:/x",
                                        "a\nb",
                                        "a\tb",
                                        QByteArray("a\x01"
                                                   "b"),
                                        QByteArray("a\x7f"),
                                        "",
                                        QByteArray("x.exe.~part")};
        for (const QByteArray &name : hostile)
            QVERIFY2(!isSafeRelativeName(name), name.toPercentEncoding().constData());
        for (const QByteArray &name :
             QByteArrayList{"a.exe", "promo/x.png", "a..b", "..a", "a b;c&&$(d).exe"})
            QVERIFY2(isSafeRelativeName(name), name.constData());
        reportReliability(QStringLiteral("hostile names"),
                          QStringLiteral("traversal, absolute, drive and control forms"), hostile.size(),
                          QStringLiteral("every one refused before any request"));

        // In each phase the first refused name stops the phase before any request.
        LauncherScene scene;
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.3\"><file name=\"../fora.dll\"/>"
            "</launcher><images lastVersion=\"2\"><file name=\"..\\fora.png\"/></images>"
            "<servers><server id=\"1\" name=\"Um\"><file name=\"a&#10;b\" lastVersion=\"1\"/>"
            "</server></servers>");
        scene.publish(QStringLiteral("launcher/launcher.exe"), "build");
        scene.startLauncher();
        QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton);
        QTRY_VERIFY(scene.widget<QWidget>("frame_buttons")->isEnabled());
        QCOMPARE(scene.requestedPaths(), QByteArrayList({"/launcher.xml", "/launcher/launcher.exe"}));
        QVERIFY(scene.processEnds.empty());
        QVERIFY(!QFile::exists(QStringLiteral("../fora.dll")));
        reportReliability(QStringLiteral("hostile names"),
                          QStringLiteral("refused names in the picture, launcher and client phases"), 3,
                          QStringLiteral("never requested, nothing written outside the game folder"));
    }

    void shellSyntaxInNamesAndArgumentsRunsNothing()
    {
        LauncherScene scene;
        setPlatform(nullptr); // the operating system's own starts
        const QByteArray argumentsScript =
            "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > argumentos.txt\n";
        scene.publish(QStringLiteral("clientes/instalar.sh"), argumentsScript);
        scene.publish(QStringLiteral("clientes/jogo.sh; touch ../MARCA-1"), "#!/bin/sh\ntouch ../MARCA-0\n");
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers>"
            "<server id=\"1\" name=\"Um\" executable=\"jogo.sh &amp;&amp; touch ../MARCA-2\">"
            "<file name=\"instalar.sh\" function=\"exec\" lastVersion=\"1\" "
            "value=\"$(touch ../MARCA-3) `touch ../MARCA-4` ; touch ../MARCA-5 | touch ../MARCA-6 "
            "&gt; ../MARCA-7 &amp;&amp; touch ../MARCA-8\"/></server></servers>");
        scene.startLauncher();
        QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(QStringLiteral("clientes/argumentos.txt")));
        QTest::mouseClick(scene.widget<QPushButton>("button_server_1"), Qt::LeftButton); // play
        QTest::qWait(500);

        QCOMPARE(
            readFileBytes(QStringLiteral("clientes/argumentos.txt")),
            QByteArray(
                "$(touch\n../MARCA-3)\n`touch\n../MARCA-4`\n;\ntouch\n../MARCA-5\n|\ntouch\n../MARCA-6\n>\n"
                "../MARCA-7\n&&\ntouch\n../MARCA-8\n"));
        QCOMPARE(QDir().entryList({QStringLiteral("MARCA-*")}, QDir::Files), QStringList());
        reportReliability(
            QStringLiteral("hostile names"),
            QStringLiteral("shell syntax in an executable and an \"exec\" value"), 9,
            QStringLiteral("no marker file appeared; the arguments reached the program as data"));
    }

    void hugeAndDeepListsNeitherHangNorCrash()
    {
        const std::pair<const char *, QByteArray> lists[] = {
            {"100,000 files", serverWithFiles(100000)},
            {"an attribute value of 10 MB",
             "<launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"" +
                 QByteArray(10 * 1024 * 1024, 'N') + "\"/></servers>"},
            {"10,000 levels of nesting", "<launcher lastVersion=\"1.2\"/><servers>" +
                                             QByteArray("<a>").repeated(10000) +
                                             QByteArray("</a>").repeated(10000) + "</servers>"},
            {"entity declarations",
             "<!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
             "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
             "<launcher lastVersion=\"1.2\"/><servers><server id=\"1\" name=\"&d;&d;&d;&d;\"/></servers>"},
        };
        for (const auto &[what, list] : lists) {
            LauncherScene scene;
            scene.publishList(list);
            QElapsedTimer clock;
            clock.start();
            scene.startLauncher();
            const qint64 elapsed = clock.elapsed();
            QVERIFY2(elapsed < 30000, what);
            QVERIFY2(scene.widget<QWidget>("frame_buttons")->isEnabled(), what);
            QVERIFY2(readFileBytes(QStringLiteral("config.xml")).startsWith("<?xml"), what);
            reportReliability(QStringLiteral("hostile lists"), QString::fromLatin1(what), 1,
                              QStringLiteral("read in %1 ms; window usable, config.xml sound").arg(elapsed));
        }
    }

    void anEndlessListIsRefusedAsUnreadable()
    {
        LauncherScene scene;
        {
            QFile list(scene.serverFolder.filePath(QStringLiteral("launcher.xml")));
            QVERIFY(list.open(QIODevice::WriteOnly) && list.resize(200LL * 1024 * 1024));
        }
        QVERIFY(resetPeakResident());
        const qint64 before = peakResidentKilobytes();
        scene.startLauncher();
        const qint64 growth = peakResidentKilobytes() - before;
        QCOMPARE(scene.boxes.texts(),
                 QStringList{QString::fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de "
                                               "atualiza\xc3\xa7\xc3\xb5"
                                               "es, por favor contate "
                                               "o suporte")});
        QCOMPARE(scene.status(),
                 QString::fromUtf8("N\xc3\xa3o foi poss\xc3\xadvel ler a lista de atualiza\xc3\xa7\xc3\xb5"
                                   "es"));
#ifdef __SANITIZE_ADDRESS__
        const qint64 bound = 256 * 1024; // freed blocks wait in the sanitizer's quarantine
#else
        const qint64 bound = 64 * 1024;
#endif
        QVERIFY2(growth < bound, qPrintable(QString::number(growth)));
        reportReliability(QStringLiteral("hostile lists"),
                          QStringLiteral("a body of 200 MB as the update list"), 1,
                          QStringLiteral("stopped at 32 MiB, reported as unreadable; memory grew by %1 MiB")
                              .arg(growth / 1024));
    }
};

QTEST_MAIN(HostileTest)
#include "hostile_test.moc"
