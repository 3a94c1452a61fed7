// Publishing a release with launcher-publish: the list it builds, the keys and
// signatures it makes, and the releases it refuses.

#include "chunks/filepacks.h"
#include "rollout.h"
#include "gamefolder.h"
#include "listsigning.h"
#include "tablerows.h"
#include "testmain.h"
#include "updatelistbuilder.h"
#include "updatelistcheck.h"

#include <QtTest>

namespace {

const QByteArray releaseConf =
    "[launcher]\nversion = 1.2\nfiles = leia-me.txt\n[images]\nx.png = http://127.0.0.1/x\n"
    "[server 1]\nname = Um\nexecutable = um.exe\nfiles = um.exe um-*.dat\n"
    "exec um.exe = --instalar\n[server 2]\nname = Dois\nexecutable = dois.exe\n"
    "files = dois.exe\ncmd dois.exe = echo dois\n";

void makeRelease(const QString &folder)
{
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
    for (const auto &[path, contents] : files) {
        QDir(folder).mkpath(QFileInfo(QLatin1String(path)).path());
        writeFileBytes(folder + '/' + QLatin1String(path), contents);
    }
}

// The tool's exit status, and what it wrote to output.
int runPublish(const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess tool;
    tool.start(QStringLiteral(PUBLISH_BINARY), arguments);
    tool.waitForFinished();
    if (output)
        *output = tool.readAllStandardOutput() + tool.readAllStandardError();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

QStringList keygen(const QString &folder)
{
    return {"keygen", "--secret-key", folder + "/op.key", "--public-key", folder + "/op.pub"};
}

// A release folder that a careless or hostile hand prepared (in release, with
// outside beyond it), and what the tool must say of it.
struct ReleaseTrial {
    const char *what, *said;
    QByteArray confLine = {}, confLineBecomes = {}; // in release.conf
    std::function<void(const QString &release, const QString &outside)> arrange = {};
    QStringList signOptions = {}; // signing follows a clean build and check
};

// clang-format off
const ReleaseTrial releaseTrials[] = {
    {"a link in clientes/ to a file outside", "clientes/um-3.dat é um link para fora da pasta da versão", {}, {},
     [](const QString &release, const QString &outside) {
         QFile::link(outside + "/op.key", release + "/clientes/um-3.dat");
     }},
    {"a launcher file with a name the launcher refuses", "nome que o launcher recusa: x.dll.~part",
     "files = leia-me.txt", "files = leia-me.txt x.dll.~part",
     [](const QString &release, const QString &) { writeFileBytes(release + "/launcher/x.dll.~part", "x"); }},
    {"an executable in no file list", "servidor 2: o executável \"d.exe\" não está entre os arquivos do servidor",
     "executable = dois.exe", "executable = d.exe"},
    {"a file in a subfolder players lack", "clientes/mapas/a.map fica numa subpasta", "files = dois.exe",
     "files = dois.exe mapas/", [](const QString &release, const QString &) {
         QDir(release).mkpath("clientes/mapas");
         writeFileBytes(release + "/clientes/mapas/a.map", "mapa");
     }},
    {"a name that is not UTF-8, in files = *", "clientes/um-%FF.dat: o nome não é UTF-8", "files = um.exe um-*.dat",
     "files = *", [](const QString &release, const QString &) { // Qt cannot name it: the file is made by its bytes
         std::fclose(std::fopen(QFile::encodeName(release + "/clientes/um-").append("\xff.dat").constData(), "w"));
     }},
    {"no release.conf", "release.conf", {}, {},
     [](const QString &release, const QString &) { QFile::remove(release + "/release.conf"); }},
    {"a validity no launcher could read", "--valid-days vai no máximo até 3650", {}, {}, {},
     {"--valid-days", "100000000"}},
    {"the highest serial there is", "--serial vai no máximo até", {}, {}, {}, {"--serial", "18446744073709551615"}},
};
// clang-format on

} // namespace

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void keysAndSignaturesFromTheTool()
    {
        QTemporaryDir keys;
        QByteArray output;
        QCOMPARE(runPublish(keygen(keys.path())), 0);
        const QByteArray secret = readFileBytes(keys.filePath("op.key"));
#ifndef Q_OS_WIN // where the folder's permissions decide
        // The secret key is the operator's alone.
        QCOMPARE(QFile::permissions(keys.filePath("op.key")) & ~QFile::Permissions(0x0f00),
                 QFile::ReadOwner | QFile::WriteOwner);
#endif
        QCOMPARE(runPublish(keygen(keys.path()), &output), 1);
        QVERIFY2(output.contains("já existe"), output.constData());
        QCOMPARE(readFileBytes(keys.filePath("op.key")), secret);

        makeRelease(keys.path());
        const QString list = keys.filePath("launcher.xml");
        QCOMPARE(runPublish({"build", keys.path(), "--base-url", "http://x/", "--out", list}), 0);
        const auto sign = [&](const QString &serial) {
            return runPublish({"sign", list, "--secret-key", keys.filePath("op.key"), "--serial", serial},
                              &output);
        };
        const QStringList check = {"check", list, "--public-key", keys.filePath("op.pub")};
        QCOMPARE(sign("5"), 0);
        QCOMPARE(runPublish(check, &output), 0);
        QCOMPARE(sign("4"), 1);
        QVERIFY2(output.contains("use um maior"), output.constData());

        writeFileBytes(list, readFileBytes(list) + ' ');
        QCOMPARE(runPublish(check, &output), 1);
        QVERIFY2(output.contains("não confere"), output.constData());
        // A signature would vouch for nothing below a file without its hash.
        writeFileBytes(list,
                       "<download path=\"http://x/\"/><launcher lastVersion=\"1\" size=\"1\" sha256=\"" +
                           sha256Hex("1") +
                           "\"/><servers><server id=\"1\" executable=\"um.exe\">"
                           "<file name=\"um.exe\" size=\"2\"/></server></servers>");
        QCOMPARE(sign("6"), 1);
        QVERIFY2(output.contains("servidor 1: \"um.exe\" sem size e sha256"), output.constData());
    }

    // An operator's day: a release published to 10% of the installations, raised
    // to half, rolled back to the one before, the list key named by a key
    // document that the offline root key signs, then rotated.
    void rolloutRollbackAndKeysFromTheTool()
    {
        QTemporaryDir folder;
        QByteArray output;
        const QString before = folder.filePath("antes"), after = folder.filePath("depois"),
                      list = folder.filePath("launcher.xml"), key = folder.filePath("op.key");
        QCOMPARE(runPublish(keygen(folder.path())), 0);
        QCOMPARE(runPublish({"keygen", "--root", "--secret-key", folder.filePath("raiz.key"), "--public-key",
                             folder.filePath("raiz.pub")},
                            &output),
                 0);
        QVERIFY2(output.contains("LAUNCHER_ROOT_PUBLIC_KEY"), output.constData());
        makeRelease(before);
        makeRelease(after);
        writeFileBytes(after + "/clientes/um.exe", "um, versão nova");
        const auto build = [&](const QString &release, const QStringList &more) {
            return runPublish(
                QStringList{"build", release, "--base-url", "http://x/", "--out", release + "/launcher.xml"} +
                    more,
                &output);
        };
        QCOMPARE(build(before, {}), 0);
        QCOMPARE(build(after, {"--rollout", "10"}), 1); // the others keep what?
        QCOMPARE(build(after, {"--rollout", "10", "--previous", before}), 0);
        QVERIFY(QFile::copy(after + "/launcher.xml", list));
        const auto keys = [&](const QString &serial, const QStringList &publicKeys) {
            QStringList arguments{"keys",     list,  "--root-key", folder.filePath("raiz.key"),
                                  "--serial", serial};
            for (const QString &publicKey : publicKeys)
                arguments << "--key" << publicKey;
            return runPublish(arguments, &output);
        };
        const QStringList check{"check", list, "--root-public-key", folder.filePath("raiz.pub")};
        QCOMPARE(keys("2", {folder.filePath("op.pub")}), 0);
        QCOMPARE(runPublish({"sign", list, "--secret-key", key, "--rollout", "50"}, &output), 0);
        QCOMPARE(runPublish(check, &output), 0);
        const std::optional<Rollout> rollout = rolloutOf(readFileBytes(list));
        QVERIFY(rollout && rollout->percent == 50);
        QCOMPARE(rollout->previousList, readFileBytes(before + "/launcher.xml"));

        // Rolled back: the release before, whole, signed anew.
        QCOMPARE(runPublish({"rollback", before, "--out", list, "--secret-key", key}, &output), 0);
        QCOMPARE(readFileBytes(list), readFileBytes(before + "/launcher.xml"));
        QCOMPARE(runPublish(check, &output), 0);

        // Rotated: a new list key in a new key document; the old one no longer signs.
        QCOMPARE(runPublish({"keygen", "--secret-key", folder.filePath("novo.key"), "--public-key",
                             folder.filePath("novo.pub")}),
                 0);
        QCOMPARE(keys("1", {folder.filePath("novo.pub")}), 1);
        QVERIFY2(output.contains("use um maior"), output.constData());
        QCOMPARE(keys("3", {folder.filePath("novo.pub")}), 0);
        QCOMPARE(runPublish(check, &output), 1);
        QVERIFY2(output.contains("não confere"), output.constData());
        QCOMPARE(runPublish({"sign", list, "--secret-key", folder.filePath("novo.key")}), 0);
        QCOMPARE(runPublish(check, &output), 0);
    }

    void checkFindsWhatWouldHurtPlayers()
    {
        QTemporaryDir release;
        makeRelease(release.path());
        QString error;
        const std::optional<QByteArray> list =
            buildUpdateList(release.path(), "http://127.0.0.1/", error, {"https://espelho/"});
        QVERIFY2(list, qPrintable(error));
        QCOMPARE(checkUpdateList(*list, release.path()), QStringList());
        QVERIFY(list->contains(
            "<download path=\"http://127.0.0.1/\" />\n<mirror path=\"https://espelho/\" />\n"));
        // Server 1's three small files share one pack, "12um" in name order; a list
        // that places one elsewhere in it, or a pack of other bytes, is found.
        const QString pack = release.filePath(QLatin1String(packPath(sha256Hex("12um"))));
        QCOMPARE(readFileBytes(pack), QByteArray("12um"));
        QStringList findings = checkUpdateList(
            QByteArray(*list).replace("packOffset=\"1\"", "packOffset=\"0\""), release.path());
        QVERIFY2(findings.size() == 1 && findings[0].contains("um-2.dat: o pacote packs/") &&
                     findings[0].contains("não tem o arquivo onde a lista diz"),
                 qPrintable(findings.join('\n')));
        writeFileBytes(pack, "12UM");
        findings = checkUpdateList(*list, release.path());
        QVERIFY2(findings.size() == 3 && findings[0].contains("está danificado"),
                 qPrintable(findings.join('\n')));
        // Every file carries what the launcher checks it against, and a version of its
        // content: an unchanged file of a new release is not due again.
        QVERIFY(list->contains("name=\"um.exe\" function=\"exec\" value=\"--instalar\" cmd=\"\""));
        QVERIFY(list->contains("name=\"dois.exe\" function=\"\" value=\"\" cmd=\"echo dois\""));
        QVERIFY(list->contains(
            "name=\"um-1.dat\" function=\"\" value=\"\" cmd=\"\" lastVersion=\"6b86b273ff34fce1\" "
            "size=\"1\" sha256=\"" +
            sha256Hex("1") + "\""));

        const QByteArray bad =
            "<download path=\"http://127.0.0.1\"/><mirror path=\"ftp://espelho/\"/><launcher "
            "lastVersion=\"1\">"
            "<file name=\"../fora.dll\"/><file "
            "name=\"Config.xml\"/><file name=\"imagens/x.png\"/>"
            "</launcher><images><file name=\"x.png\"/><file name=\"x.png\"/></images><servers>"
            "<server id=\"1\" executable=\"um.exe\"><file name=\"um.exe\"/><file name=\"um.exe\"/>"
            "<file name=\"meu jogo.exe\"/><file name=\"p.exe\" function=\"exec\" value=\"/q &amp; del\"/>"
            "<file name=\"um-1.dat\" size=\"1\" sha256=\"ABC\"/><file name=\"um-2.dat\" size=\"9\"/><file "
            "name=\"um-3.dat\" sha256=\"" +
            sha256Hex("3") +
            "\"/></server>"
            "<server id=\"1\" executable=\"C:\\jogo.exe\"/><server id=\"9\" executable=\"n.exe\"/></servers>";
        findings = checkUpdateList(bad, release.path());
        const char *expected[] = {
            "não termina em \"/\"",
            "mirror: o endereço \"ftp://espelho/\" precisa começar com http:// ou https://",
            "servidor 1: \"um-2.dat\" sem size e sha256; um espelho com outro conteúdo passaria",
            "servidor 1: \"um-3.dat\" sem size e sha256",
            "launcher: o launcher recusa o nome \"../fora.dll\"",
            "launcher: o launcher recusa o nome \"Config.xml\", que é de um arquivo dele mesmo",
            "launcher: o launcher recusa o nome \"imagens/x.png\", que é de um arquivo dele mesmo, de um "
            "servidor",
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
                     qPrintable(QString::fromUtf8(finding) + "\nin:\n" + findings.join('\n')));
        QCOMPARE(checkUpdateList("<servers><server id=\"1\">").size(), 1);
        QVERIFY(checkUpdateList("<launcher lastVersion=\"1\"/>").front().contains("vazio"));
    }

    void untrustedReleaseInputsAreRefusedWithWhatToChange_data()
    {
        addTableRows(releaseTrials);
    }

    void untrustedReleaseInputsAreRefusedWithWhatToChange()
    {
        const ReleaseTrial release = currentRow(releaseTrials);
#ifdef Q_OS_WIN
        // QFile::link makes a shortcut there, a file like any other; every name is UTF-16, so UTF-8 to the
        // tool.
        if (QByteArray(release.what).contains("a link") || QByteArray(release.what).contains("not UTF-8"))
            QSKIP("no links to plant, nor names that are not UTF-8, on Windows");
#endif
        QTemporaryDir folder, outside;
        makeRelease(folder.path());
        const QString list = folder.filePath("l.xml");
        QCOMPARE(runPublish(keygen(outside.path())), 0);
        const QString conf = folder.filePath("release.conf");
        if (!release.confLine.isEmpty())
            writeFileBytes(conf, readFileBytes(conf).replace(release.confLine, release.confLineBecomes));
        if (release.arrange)
            release.arrange(folder.path(), outside.path());

        QByteArray output;
        int status = runPublish({"build", folder.path(), "--base-url", "http://x/", "--out", list}, &output);
        if (status == 0)
            status = runPublish({"check", list, folder.path()}, &output);
        if (status == 0 && !release.signOptions.isEmpty())
            status = runPublish(QStringList{"sign", list, "--secret-key", outside.filePath("op.key")} +
                                    release.signOptions,
                                &output);
        QCOMPARE(status, 1);
        QVERIFY2(output.contains(release.said), output.constData());
        QVERIFY(!QFile::exists(list + ".sig"));
    }
};

LAUNCHER_TEST_MAIN(PublishTest, QApplication)
#include "publish_test.moc"
