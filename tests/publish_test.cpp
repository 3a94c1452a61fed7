// Publishing a release with launcher-publish, and the launcher installing it.

#include "launcherscene.h"

#include "buildconfig.h"
#include "listsigning.h"
#include "playertexts.h"
#include "updatelistbuilder.h"
#include "updatelistcheck.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QByteArray releaseConf = "[launcher]\n"
                               "version = 1.2\n"
                               "files = leia-me.txt\n"
                               "[images]\n"
                               "x.png = http://127.0.0.1/x\n"
                               "[server 1]\n"
                               "name = Um\n"
                               "executable = um.exe\n"
                               "files = um.exe um-*.dat\n"
                               "exec um.exe = --instalar\n"
                               "[server 2]\n"
                               "name = Dois\n"
                               "executable = dois.exe\n"
                               "files = dois.exe\n"
                               "cmd dois.exe = echo dois\n";

void makeRelease(const QDir &release)
{
    for (const char *folder : {"clientes", "imagens", "launcher"})
        release.mkpath(QLatin1String(folder));
    const std::pair<const char *, QByteArray> files[] = {
        {"clientes/um.exe", "um"},
        {"clientes/um-1.dat", "1"},
        {"clientes/um-2.dat", "2"},
        {"clientes/dois.exe", "dois"},
        {"imagens/x.png", "png"},
        {"launcher/launcher.exe", "build"},
        {"launcher/leia-me.txt", "leia-me"},
        {"release.conf", releaseConf},
    };
    for (const auto &[path, contents] : files)
        writeFileBytes(release.filePath(QLatin1String(path)), contents);
}

QByteArray buildList(const LauncherScene &scene)
{
    QString error;
    const std::optional<QByteArray> list = buildUpdateList(scene.serverFolder.path(), scene.base(), error);
    if (!list)
        qFatal("%s", qPrintable(error));
    return *list;
}

QString caption(const LauncherScene &scene, int id)
{
    return scene.widget<QPushButton>(QByteArray("button_server_" + QByteArray::number(id)).constData())
        ->text();
}

int runPublish(const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess tool;
    tool.start(QStringLiteral(PUBLISH_BINARY), arguments);
    tool.waitForFinished();
    if (output)
        *output = tool.readAllStandardOutput() + tool.readAllStandardError();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

QStringList buildArguments(const QTemporaryDir &release, const char *baseUrl)
{
    return {QStringLiteral("build"),      release.path(),          QStringLiteral("--base-url"),
            QString::fromLatin1(baseUrl), QStringLiteral("--out"), release.filePath(QStringLiteral("l.xml"))};
}

// A release folder that a careless or hostile hand prepared, and what the tool
// must say of it.
struct ReleaseTrial {
    const char *what;
    std::function<void(const QDir &release, const QString &outside)> arrange;
    QStringList signOptions; // signing follows a clean build and check
    const char *said;
};

void replaceInConf(const QDir &release, const QByteArray &from, const QByteArray &to)
{
    const QString conf = release.filePath(QStringLiteral("release.conf"));
    writeFileBytes(conf, readFileBytes(conf).replace(from, to));
}

const ReleaseTrial releaseTrials[] = {
    {"a link in clientes/ to a file outside",
     [](const QDir &release, const QString &outside) {
         QFile::link(outside + QLatin1String("/op.key"),
                     release.filePath(QStringLiteral("clientes/um-3.dat")));
     },
     {},
     "clientes/um-3.dat é um link para fora da pasta da versão"},
    {"a link in launcher/ to a file outside",
     [](const QDir &release, const QString &outside) {
         QFile::remove(release.filePath(QStringLiteral("launcher/leia-me.txt")));
         QFile::link(outside + QLatin1String("/op.key"),
                     release.filePath(QStringLiteral("launcher/leia-me.txt")));
     },
     {},
     "launcher/leia-me.txt é um link para fora da pasta da versão"},
    {"an executable in no file list",
     [](const QDir &release, const QString &) {
         replaceInConf(release, "executable = dois.exe", "executable = d.exe");
     },
     {},
     "servidor 2: o executável \"d.exe\" não está entre os arquivos do servidor"},
    {"a file in a subfolder players lack",
     [](const QDir &release, const QString &) {
         release.mkpath(QStringLiteral("clientes/mapas"));
         writeFileBytes(release.filePath(QStringLiteral("clientes/mapas/a.map")), "mapa");
         replaceInConf(release, "files = dois.exe", "files = dois.exe mapas/");
     },
     {},
     "clientes/mapas/a.map fica numa subpasta"},
    {"a name that is not UTF-8",
     [](const QDir &release, const QString &) {
         writeFileBytes(QFile::decodeName(QFile::encodeName(release.path()) + "/clientes/um-\xff.dat"), "x");
     },
     {},
     "o nome não é UTF-8"},
    {"a validity no launcher could read",
     [](const QDir &, const QString &) {},
     {QStringLiteral("--valid-days"), QStringLiteral("100000000")},
     "--valid-days vai no máximo até 3650"},
    {"the highest serial there is",
     [](const QDir &, const QString &) {},
     {QStringLiteral("--serial"), QStringLiteral("18446744073709551615")},
     "--serial vai no máximo até"},
};

} // namespace

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void aPublishedReleaseInstallsAndOnlyChangedFilesBecomeDue()
    {
        LauncherScene scene;
        makeRelease(QDir(scene.serverFolder.path()));
        scene.publish(QStringLiteral("launcher.xml"), buildList(scene));
        scene.startLauncher();
        QVERIFY(scene.boxes.boxes.empty());
        QCOMPARE(readFileBytes(QStringLiteral("imagens/x.png")), QByteArray("png"));
        for (const int id : {1, 2}) {
            scene.clickServer(id);
            QCOMPARE(caption(scene, id).right(8), QStringLiteral(" (Jogar)"));
        }
        QCOMPARE(scene.platform.calls, QByteArrayList({"start clientes|um.exe|--instalar", "run echo dois"}));

        // An unchanged release changes nothing; one changed file is all that is due.
        scene.window.reset();
        scene.publish(QStringLiteral("launcher.xml"), buildList(scene));
        scene.publish(QStringLiteral("clientes/um-2.dat"), "2, corrigido");
        scene.publish(QStringLiteral("launcher.xml"), buildList(scene));
        const int before = scene.requestedPaths().size();
        scene.startLauncher();
        QCOMPARE(caption(scene, 1), PlayerText::serverCaption("Um", ServerStatus::Update));
        QCOMPARE(caption(scene, 2), PlayerText::serverCaption("Dois", ServerStatus::Play));
        scene.clickServer(1);
        QCOMPARE(scene.requestedPaths().mid(before), QByteArrayList({"/launcher.xml", "/clientes/um-2.dat"}));
        QCOMPARE(readFileBytes(QStringLiteral("clientes/um-2.dat")), QByteArray("2, corrigido"));
        QCOMPARE(caption(scene, 1), PlayerText::serverCaption("Um", ServerStatus::Play));
    }

    void aListSignedWithTheToolIsTakenByALauncherWithItsKey()
    {
        QTemporaryDir keys;
        const QString secretKey = keys.filePath(QStringLiteral("op.key"));
        const QString publicKey = keys.filePath(QStringLiteral("op.pub"));
        const QStringList keygen = {QStringLiteral("keygen"), QStringLiteral("--secret-key"), secretKey,
                                    QStringLiteral("--public-key"), publicKey};
        QCOMPARE(runPublish(keygen), 0);
        const QByteArray secret = readFileBytes(secretKey);
        QByteArray output;
        QCOMPARE(runPublish(keygen, &output), 1);
        QVERIFY2(output.contains("já existe"), output.constData());
        QCOMPARE(readFileBytes(secretKey), secret);

        LauncherScene scene;
        makeRelease(QDir(scene.serverFolder.path()));
        scene.publish(QStringLiteral("launcher.xml"), buildList(scene));
        const QString list = scene.serverFolder.filePath(QStringLiteral("launcher.xml"));
        const auto sign = [&](const char *serial) {
            return runPublish({QStringLiteral("sign"), list, QStringLiteral("--secret-key"), secretKey,
                               QStringLiteral("--serial"), QLatin1String(serial)},
                              &output);
        };
        const QStringList check = {QStringLiteral("check"), list, QStringLiteral("--public-key"), publicKey};
        QCOMPARE(sign("5"), 0);
        QCOMPARE(runPublish(check, &output), 0);
        QCOMPARE(sign("4"), 1);
        QVERIFY2(output.contains("use um maior"), output.constData());

        buildSettings().updateListPublicKey = readFileBytes(publicKey).trimmed();
        scene.startLauncher();
        buildSettings().updateListPublicKey.clear();
        QCOMPARE(scene.boxes.texts(), QStringList());
        scene.clickServer(1);
        QCOMPARE(caption(scene, 1).right(8), QStringLiteral(" (Jogar)"));

        scene.publish(QStringLiteral("launcher.xml"), buildList(scene) + ' ');
        QCOMPARE(runPublish(check, &output), 1);
        QVERIFY2(output.contains("não confere"), output.constData());
        // A signature would vouch for nothing below a file without its hash.
        scene.publish(QStringLiteral("launcher.xml"),
                      "<launcher lastVersion=\"1\"/><servers>"
                      "<server id=\"1\" executable=\"um.exe\">"
                      "<file name=\"um.exe\" size=\"2\"/></server></servers>");
        QCOMPARE(sign("6"), 1);
        QVERIFY2(output.contains("servidor 1: \"um.exe\" sem size e sha256"), output.constData());
        QVERIFY2(output.contains("launcher: \"launcher.exe\" sem size e sha256"), output.constData());
    }

    void checkFindsWhatWouldHurtPlayers()
    {
        QTemporaryDir release;
        makeRelease(QDir(release.path()));
        QString error;
        const std::optional<QByteArray> list =
            buildUpdateList(release.path(), "http://127.0.0.1/", error, {"https://espelho/"});
        QVERIFY2(list, qPrintable(error));
        QCOMPARE(checkUpdateList(*list, release.path()), QStringList());
        QVERIFY(list->contains(
            "<download path=\"http://127.0.0.1/\" />\n<mirror path=\"https://espelho/\" />\n"));
        // Every file carries what the launcher checks it against.
        QVERIFY(list->contains(
            "name=\"um-1.dat\" function=\"\" value=\"\" cmd=\"\" lastVersion=\"6b86b273ff34fce1\" "
            "size=\"1\" sha256=\"6b86b273ff34fce19d6b804eff5a3f5747ada4eaa22f1d49c01e52ddb7875b4b\""));

        const QByteArray bad =
            "<download path=\"http://127.0.0.1\"/><mirror path=\"ftp://espelho/\"/><launcher "
            "lastVersion=\"1\">"
            "<file name=\"../fora.dll\"/><file name=\"a.dll\"/><file name=\"a.dll\"/><file "
            "name=\"Config.xml\"/>"
            "</launcher>"
            "<images><file name=\"x.png\"/><file name=\"x.png\"/></images><servers>"
            "<server id=\"1\" executable=\"um.exe\"><file name=\"um.exe\"/>"
            "<file name=\"um.exe\"/><file name=\"meu jogo.exe\"/>"
            "<file name=\"p.exe\" function=\"exec\" value=\"/q &amp; del\"/>"
            "<file name=\"um-1.dat\" size=\"1\" sha256=\"ABC\"/><file name=\"um-2.dat\" size=\"9\"/></server>"
            "<server id=\"1\" executable=\"C:\\jogo.exe\"/><server id=\"9\" executable=\"n.exe\"/>"
            "</servers>";
        const QStringList findings = checkUpdateList(bad, release.path());
        const char *expected[] = {
            "não termina em \"/\"",
            "mirror: o endereço \"ftp://espelho/\" precisa começar com http:// ou https://",
            "servidor 1: \"um-2.dat\" sem size e sha256; um espelho com outro conteúdo passaria",
            "launcher: o launcher recusa o nome \"../fora.dll\"",
            "launcher: arquivo repetido \"a.dll\"",
            "launcher: o launcher recusa o nome \"Config.xml\", que é de um arquivo dele mesmo",
            "launcher: launcher/a.dll não está na pasta da versão",
            "images: imagem repetida \"x.png\"",
            "servidor 1: arquivo repetido \"um.exe\"",
            "servidor 1: o arquivo \"meu jogo.exe\" tem espaço ou metacaractere de shell",
            "servidor 1: os argumentos de \"p.exe\" têm metacaractere de shell",
            "servidor 1: clientes/p.exe não está na pasta da versão",
            "servidor 1: id repetido",
            "servidor 1: o launcher recusa o executável \"C:\\jogo.exe\"",
            "servidor 9: nenhum botão serve esse id (só 1 a 6)",
            "servidor 1: o sha256 de \"um-1.dat\" não tem 64 dígitos hexadecimais minúsculos",
            "servidor 1: clientes/um-1.dat não confere com o tamanho ou o sha256 da lista",
            "servidor 1: clientes/um-2.dat não confere com o tamanho ou o sha256 da lista",
        };
        for (const char *finding : expected)
            QVERIFY2(!findings.filter(QString::fromUtf8(finding)).isEmpty(),
                     qPrintable(QString::fromUtf8(finding) + QLatin1String("\nin:\n") +
                                findings.join(QLatin1Char('\n'))));
        QCOMPARE(checkUpdateList("<servers><server id=\"1\">").size(), 1);
        QVERIFY(checkUpdateList("<launcher lastVersion=\"1\"/>").front().contains(QLatin1String("vazio")));
    }

    void untrustedReleaseInputsAreRefusedWithWhatToChange_data()
    {
        QTest::addColumn<int>("trial");
        for (std::size_t i = 0; i < std::size(releaseTrials); ++i)
            QTest::newRow(releaseTrials[i].what) << int(i);
    }

    void untrustedReleaseInputsAreRefusedWithWhatToChange()
    {
        QFETCH(int, trial);
        const ReleaseTrial &release = releaseTrials[trial];
        QTemporaryDir folder, outside;
        makeRelease(QDir(folder.path()));
        const QString list = folder.filePath(QStringLiteral("l.xml"));
        const QString key = outside.filePath(QStringLiteral("op.key"));
        QCOMPARE(runPublish({QStringLiteral("keygen"), QStringLiteral("--secret-key"), key,
                             QStringLiteral("--public-key"), outside.filePath(QStringLiteral("op.pub"))}),
                 0);
        release.arrange(QDir(folder.path()), outside.path());

        QByteArray output;
        int status = runPublish(buildArguments(folder, "http://x/"), &output);
        if (status == 0)
            status = runPublish({QStringLiteral("check"), list, folder.path()}, &output);
        if (status == 0 && !release.signOptions.isEmpty())
            status =
                runPublish(QStringList{QStringLiteral("sign"), list, QStringLiteral("--secret-key"), key} +
                               release.signOptions,
                           &output);
        QCOMPARE(status, 1);
        QVERIFY2(output.contains(release.said), output.constData());
        QVERIFY(!QFile::exists(list + QLatin1String(".sig")));
    }

    void theSecretKeyIsNeverReadableByAnotherUser()
    {
        // Another user polls for each new key file and tries to read it.
        TemporaryGameFolder folder;
        QFile::setPermissions(folder.path(), QFile::Permissions(0x7755));
        std::atomic<bool> done{false}, racing{false};
        std::atomic<int> read{0};
        std::thread racer([&] {
            // This thread alone becomes "nobody".
            racing = syscall(SYS_setresuid, 65534, 65534, 65534) == 0;
            while (racing && !done) {
                for (int i = 0; i < 40; ++i) {
                    const int descriptor =
                        ::open(QByteArray("k" + QByteArray::number(i) + ".key").constData(), O_RDONLY);
                    if (descriptor >= 0 && ::close(descriptor) == 0)
                        ++read;
                }
            }
        });
        QTest::qWait(50);
        QString error;
        for (int i = 0; i < 40; ++i)
            QVERIFY(
                writeListKeyPair(QStringLiteral("k%1.key").arg(i), QStringLiteral("k%1.pub").arg(i), error));
        done = true;
        racer.join();
        if (!racing)
            QSKIP("only root can act as another user here");
        QCOMPARE(read.load(), 0);
    }

    void theCommandLineToolRefusesBadInputPlainly()
    {
        QTemporaryDir release;
        QByteArray output;
        QCOMPARE(runPublish({}), 2);
        QCOMPARE(runPublish(buildArguments(release, "http://x/"), &output), 1);
        QVERIFY2(output.contains("release.conf"), output.constData());

        makeRelease(QDir(release.path()));
        QCOMPARE(runPublish(buildArguments(release, "http://x"), &output), 1);
        QVERIFY2(output.contains("terminar em"), output.constData());
        writeFileBytes(release.filePath(QStringLiteral("release.conf")), "[servidor 1]\n");
        QCOMPARE(runPublish(buildArguments(release, "http://x/"), &output), 1);
        QVERIFY2(output.contains("release.conf:1"), output.constData());

        QCOMPARE(runPublish({QStringLiteral("check"), release.filePath(QStringLiteral("nada.xml"))}), 1);
        writeFileBytes(release.filePath(QStringLiteral("l.xml")), "<servers><server id=\"7\"/></servers>");
        QCOMPARE(runPublish({QStringLiteral("check"), release.filePath(QStringLiteral("l.xml"))}, &output),
                 1);
        QVERIFY2(output.contains("servidor 7"), output.constData());
    }
};

QTEST_MAIN(PublishTest)
#include "publish_test.moc"
