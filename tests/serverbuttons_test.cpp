// Installing, updating and playing a server, against a real update server.

#include "launcherscene.h"
#include "playertexts.h"

#include <QtTest>

namespace {

using PlayerText::serverCaption;

} // namespace

class ServerButtonsTest : public QObject
{
    Q_OBJECT

private slots:
    void installFetchesInNameOrderRunsTheActionsAndRecords()
    {
        LauncherScene scene;
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"1\" "
            "name=\"Um\" executable=\"ZEV1.exe\"><file name=\"b.dat\" lastVersion=\"2\"/>"
            "<file name=\"patch.exe\" function=\"exec\" lastVersion=\"3\"/><file name=\"A.exe\" "
            "lastVersion=\"1\"/><file name=\"data.pak\" cmd=\"echo pronto\" lastVersion=\"4\"/>"
            "</server></servers>");
        for (const char *name : {"A.exe", "b.dat", "data.pak", "patch.exe"})
            scene.publish("clientes/" + QLatin1String(name), "body of " + QByteArray(name));
        scene.startLauncher();
        QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Install));
        scene.clickServer(1);
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths().mid(1)),
                 QByteArrayList(
                     {"/clientes/A.exe", "/clientes/b.dat", "/clientes/data.pak", "/clientes/patch.exe"}));
        QCOMPARE(readFileBytes("clientes/patch.exe"), QByteArray("body of patch.exe"));
        // Each file's action right after it; the game itself is not started.
        QCOMPARE(scene.platform.calls, QByteArrayList({"run echo pronto", "start clientes|patch.exe|"}));
        QCOMPARE(scene.caption(1), serverCaption("Um", ServerStatus::Play));
        QVERIFY(
            configBytes().contains("name=\"b.dat\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"2\" "
                                   "lastVersion=\"2\""));
        QVERIFY(scene.boxes.boxes.empty());
    }

    void aFailedFileKeepsTheFilesCommittedBeforeIt()
    {
        LauncherScene scene;
        const auto file = [](const char *name, const char *more = "") {
            return "<file name=\"" + QByteArray(name) + "\" lastVersion=\"1\" size=\"2\" sha256=\"" +
                   sha256Hex(name) + "\" " + more + "/>";
        };
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><servers><server id=\"2\" "
            "name=\"Dois\">" +
            file("f1", "cmd=\"echo f1\"") + file("f2") + file("f3") + file("f4") + file("f5") +
            "</server><server id=\"3\" name=\"Tres\"><file name=\"enorme.pak\" lastVersion=\"1\" "
            "size=\"999999999999999999\"/></server></servers>");
        for (const char *name : {"f1", "f4", "f5"})
            scene.publish("clientes/" + QLatin1String(name), name);
        writeFileBytes("clientes/f2", "f2"); // already there from an earlier try
        scene.startLauncher();

        scene.clickServer(2);
        QCOMPARE(scene.boxes.texts(),
                 QStringList({PlayerText::serverError(404), PlayerText::clientFileFailed}));
        QCOMPARE(scene.boxes.boxes.back().parent, scene.window.get());
        // Fetched side by side, committed in order: f4 arrived but is not in place.
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths()),
                 QByteArrayList(
                     {"/clientes/f1", "/clientes/f3", "/clientes/f4", "/clientes/f5", "/launcher.xml"}));
        for (const char *recorded : {"f2\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"1\"",
                                     "f3\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\"",
                                     "f4\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\""})
            QVERIFY2(configBytes().contains(recorded), recorded);
        QVERIFY(!QFile::exists("clientes/f4"));
        QCOMPARE(scene.caption(2), serverCaption("Dois", ServerStatus::Install));
        QVERIFY(scene.button(2)->isEnabled());

        // The next click fetches from f3 on; f1's command does not run again.
        scene.publish("clientes/f3", "f3");
        scene.clickServer(2);
        QCOMPARE(LauncherScene::sorted(scene.requestedPaths().mid(5)),
                 QByteArrayList({"/clientes/f3", "/clientes/f4", "/clientes/f5"}));
        QCOMPARE(scene.platform.calls, QByteArrayList{"run echo f1"});
        QCOMPARE(scene.caption(2), serverCaption("Dois", ServerStatus::Play));

        // More than the disk holds is told before anything is fetched.
        scene.clickServer(3);
        QVERIFY2(scene.boxes.texts().last().startsWith(QString::fromUtf8(
                     "Não há espaço livre suficiente no disco: são necessários 953674316407 MB")),
                 qPrintable(scene.boxes.texts().last()));
        QCOMPARE(scene.requestedPaths().size(), 8);
    }

    void playStartsOneMoreClientOnEveryClick()
    {
        LauncherScene scene;
        scene.publishList(
            "<launcher lastVersion=\"1.2\"/><servers><server id=\"5\" name=\"OT\" executable=\"jogo; "
            "touch pwned $(id).exe\"/><server id=\"7\" name=\"Sete\"/></servers>");
        scene.startLauncher();
        for (int click = 0; click < 3; ++click)
            scene.clickServer(5);
        // The name is handed over whole, as one program.
        QCOMPARE(scene.platform.calls,
                 QVector<QByteArray>(3, "start clientes|jogo; touch pwned $(id).exe").toList());
        // A server without a button is kept and saved.
        QVERIFY(configBytes().contains("<server id=\"7\" name=\"Sete\""));
        for (const int id : {1, 2, 3, 4, 6})
            QVERIFY(!scene.button(id)->isEnabled());
    }

    void namesThatLeaveTheirFolderAreNeverRequested()
    {
        LauncherScene scene;
        scene.publishList(
            "<download path=\"BASE/\"/><launcher lastVersion=\"1.2\"/><images lastVersion=\"1\"><file "
            "name=\"../../fora.png\"/></images><servers><server id=\"1\" name=\"a\"><file "
            "name=\"../evil\" lastVersion=\"1\"/></server><server id=\"2\" name=\"b\"><file "
            "name=\"/tmp/x\" lastVersion=\"1\"/></server><server id=\"3\" name=\"c\"><file "
            "name=\"C:\\x\" lastVersion=\"1\"/></server><server id=\"6\" name=\"e\" "
            "executable=\"../../bin/sh\"/></servers>");
        scene.startLauncher();
        const QStringList before = entriesBesidesTheLog();
        for (const int id : {1, 2, 3, 6})
            scene.clickServer(id);
        QCOMPARE(scene.requestedPaths(), QByteArrayList{"/launcher.xml"});
        // Each refused name has its box where the downloader's would be.
        using PlayerText::refusedName;
        const QString failed = PlayerText::clientFileFailed;
        QCOMPARE(
            scene.boxes.texts(),
            QStringList({refusedName("../../fora.png"), refusedName("../evil"), failed, refusedName("/tmp/x"),
                         failed, refusedName("C:\\x"), failed, refusedName("../../bin/sh")}));
        QVERIFY(scene.platform.calls.isEmpty());
        QCOMPARE(entriesBesidesTheLog(), before);
        QVERIFY(QDir("clientes").isEmpty());
    }
};

QTEST_MAIN(ServerButtonsTest)
#include "serverbuttons_test.moc"
