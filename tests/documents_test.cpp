// The update list and config.xml: what is read from them, what survives a merge,
// and the exact bytes written back.

#include "configsteps.h"
#include "boxrecorder.h"
#include "gamefolder.h"
#include "launcherstate.h"

#include <QDir>
#include <QtTest>

#include <pugixml.hpp>

#include <sstream>

namespace {

const QString unreadableListText =
    QString::fromLatin1("N\xe3o foi poss\xedvel ler a lista de atualiza\xe7\xf5"
                        "es, por favor contate o suporte");

const QByteArray defaultsConfig = "<?xml version=\"1.0\"?>\n"
                                  "<tsqp version=\"1.0\" />\n"
                                  "<download path=\"\" />\n"
                                  "<launcher installedVersion=\"1.2\" lastVersion=\"\" />\n"
                                  "<images installedVersion=\"\" lastVersion=\"\" />\n"
                                  "<servers />\n";

QByteArray configBytes()
{
    return readFileBytes(QStringLiteral("config.xml"));
}

QByteArrayList launcherFileNames(const LauncherState &state)
{
    return QByteArrayList(state.launcherFiles.begin(), state.launcherFiles.end());
}

} // namespace

class DocumentsTest : public QObject
{
    Q_OBJECT

private slots:
    void updateListMergedOverInstalledVersionsIsSavedByteForByte()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        LauncherState state;
        QVERIFY(mergeUpdateListAndSave(state, "<launcher installedVersion=\"1.3\"/>"
                                              "<images installedVersion=\"7\"/>"
                                              "<servers><server id=\"1\">"
                                              "<file name=\"ZEV1.exe\" installedVersion=\"11\"/>"
                                              "<file name=\"patch.exe\" installedVersion=\"3\"/>"
                                              "<file name=\"data.pak\" installedVersion=\"11\"/>"
                                              "</server></servers>"));

        QVERIFY(mergeUpdateListAndSave(
            state, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                   "<download path=\"http://127.0.0.1:8765/\"/><mirror path=\"https://espelho/\"/>"
                   "<launcher lastVersion=\"1.3\"><file name=\"extra.dll\"/></launcher>"
                   "<images lastVersion=\"7\">"
                   "<file name=\"banner1.jpg\" href=\"http://127.0.0.1/news/1\"/>"
                   "<file name=\"banner2.jpg\" href=\"http://127.0.0.1/news/2\"/>"
                   "</images>"
                   "<servers>"
                   "<server id=\"1\" name=\"Servidor 1\" executable=\"ZEV1.exe\">"
                   "<file name=\"ZEV1.exe\" lastVersion=\"12\"/>"
                   "<file name=\"patch.exe\" function=\"exec\" value=\"/quiet\" lastVersion=\"3\"/>"
                   "<file name=\"data.pak\" cmd=\"echo pronto &amp;&amp; exit 0\" lastVersion=\"12\"/>"
                   "</server>"
                   "</servers>"));

        QCOMPARE(
            configBytes(),
            QByteArray("<?xml version=\"1.0\"?>\n"
                       "<tsqp version=\"1.0\" />\n"
                       "<download path=\"http://127.0.0.1:8765/\" />\n"
                       "<launcher installedVersion=\"1.3\" lastVersion=\"1.3\">\n"
                       "\t<file name=\"extra.dll\" />\n"
                       "</launcher>\n"
                       "<images installedVersion=\"7\" lastVersion=\"7\">\n"
                       "\t<file name=\"banner1.jpg\" href=\"http://127.0.0.1/news/1\" />\n"
                       "\t<file name=\"banner2.jpg\" href=\"http://127.0.0.1/news/2\" />\n"
                       "</images>\n"
                       "<servers>\n"
                       "\t<server id=\"1\" name=\"Servidor 1\" executable=\"ZEV1.exe\">\n"
                       "\t\t<file name=\"ZEV1.exe\" function=\"\" value=\"\" cmd=\"\" "
                       "installedVersion=\"11\" lastVersion=\"12\" />\n"
                       "\t\t<file name=\"data.pak\" function=\"\" value=\"\" "
                       "cmd=\"echo pronto &amp;&amp; exit 0\" installedVersion=\"11\" lastVersion=\"12\" />\n"
                       "\t\t<file name=\"patch.exe\" function=\"exec\" value=\"/quiet\" cmd=\"\" "
                       "installedVersion=\"3\" lastVersion=\"3\" />\n"
                       "\t</server>\n"
                       "</servers>\n"));
        QCOMPARE(LauncherState::serverStatus(state.servers.at(1)), ServerStatus::Update);
        // Mirrors come from the list alone: config.xml above does not keep them.
        QCOMPARE(state.downloadBases(),
                 (std::vector<QByteArray>{"http://127.0.0.1:8765/", "https://espelho/"}));
        QVERIFY(boxes.boxes.empty());
    }

    void firstStartInAnEmptyFolderWritesTheDefaults()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        QVERIFY(loadConfigAndTell(state));
        QCOMPARE(configBytes(), defaultsConfig);
        QCOMPARE(entriesBesidesTheLog(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("config.xml")});
    }

    // config.xml is written without a document tree; pugixml, which reads it,
    // must find in it exactly the values written, and writing them again in its
    // own layout must give the same bytes.
    void everyByteOfEveryValueIsWrittenAsTheReaderReadsIt()
    {
        TemporaryGameFolder folder;
        QByteArray everyByte;
        for (int byte = 1; byte < 256; ++byte)
            everyByte += char(byte);
        LauncherState state;
        state.downloadPath = everyByte;
        state.launcherInstalledVersion = "a&b<c>d\"e'f";
        state.launcherFiles = {everyByte, "x"};
        state.launcherFileChecks["x"] = ContentCheck{"3", everyByte};
        state.images[everyByte] = ImageEntry{everyByte, everyByte, {}};
        ServerEntry &server = state.servers[65535];
        server.id = 65535;
        server.name = everyByte;
        server.files[everyByte] =
            FileEntry{everyByte, everyByte, "exec", everyByte, everyByte, everyByte, {}};
        server.files["\t"] = FileEntry{"\r\n", "", "", "", "", "\t", ContentCheck{everyByte, ""}};
        state.servers[7].id = 7;
        state.acceptedListSerial = 18446744073709551615ULL;

        for (const DocumentKind kind : {DocumentKind::Config, DocumentKind::UpdateList}) {
            const QByteArray written = state.document(kind);
            pugi::xml_document document;
            QVERIFY(document.load_string(written.constData()));
            std::ostringstream rewritten;
            document.save(rewritten, "\t", pugi::format_indent, pugi::encoding_auto);
            QCOMPARE(QByteArray::fromStdString(rewritten.str()), written);
        }

        QVERIFY(state.saveConfig());
        LauncherState reread;
        QVERIFY(loadConfigAndTell(reread));
        QCOMPARE(reread.document(DocumentKind::Config), state.document(DocumentKind::Config));
        QCOMPARE(reread.servers.at(65535).files.at(everyByte).cmd, everyByte);
        QCOMPARE(reread.servers.at(65535).files.at("\t").installedVersion, QByteArray("\r\n"));
        QCOMPARE(reread.acceptedListSerial, state.acceptedListSerial);
    }

    void missingAndEmptyAttributes()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        mergeUpdateListAndSave(state, "<download path=\"http://old/\"/>"
                                      "<launcher installedVersion=\"1.5\" lastVersion=\"1.6\"/>"
                                      "<images installedVersion=\"3\" lastVersion=\"4\"/>");

        // Without installed versions the local ones stay; everything else is replaced,
        // a missing element acting as one without attributes.
        QVERIFY(mergeUpdateListAndSave(state, "<launcher lastVersion=\"1.7\"/><servers><server/></servers>"));
        QCOMPARE(state.downloadPath, QByteArray());
        QCOMPARE(state.launcherInstalledVersion, QByteArray("1.5"));
        QCOMPARE(state.launcherLastVersion, QByteArray("1.7"));
        QCOMPARE(state.imagesInstalledVersion, QByteArray("3"));
        QCOMPARE(state.imagesLastVersion, QByteArray());
        QCOMPARE(state.servers.count(0), std::size_t(1));

        // An attribute present with an empty value counts as present.
        QVERIFY(mergeUpdateListAndSave(state,
                                       "<launcher installedVersion=\"\" /><images installedVersion=\"\"/>"
                                       "<servers><server id=\"4\"><file lastVersion=\"2\"/><file name=\"x\" "
                                       "installedVersion=\"\"/></server></servers>"));
        QCOMPARE(state.launcherInstalledVersion, QByteArray());
        QCOMPARE(state.imagesInstalledVersion, QByteArray());
        const ServerEntry &server = state.servers.at(4);
        QCOMPARE(server.files.at("").lastVersion, QByteArray("2")); // a file without a name
        QCOMPARE(server.files.at("x").installedVersion, QByteArray());
        QCOMPARE(server.files.at("x").name, QByteArray("x"));
    }

    void contentChecksAreKeptOnlyWhereTheListGivesThem()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        QVERIFY(mergeUpdateListAndSave(
            state, "<launcher lastVersion=\"2\" size=\"5\" sha256=\"aa\"><file name=\"x.dll\" "
                   "sha256=\"bb\"/></launcher><images><file name=\"i.png\" size=\"7\"/></images>"
                   "<servers><server id=\"1\"><file name=\"a\" size=\"9\" sha256=\"cc\"/>"
                   "<file name=\"b\"/></server></servers>"));
        const QByteArray config = configBytes();
        QVERIFY(config.contains(
            "<launcher installedVersion=\"1.2\" lastVersion=\"2\" size=\"5\" sha256=\"aa\">"));
        QVERIFY(config.contains("<file name=\"x.dll\" sha256=\"bb\" />"));
        QVERIFY(config.contains("<file name=\"i.png\" href=\"\" size=\"7\" />"));
        QVERIFY(config.contains("installedVersion=\"\" lastVersion=\"\" size=\"9\" sha256=\"cc\" />"));
        QVERIFY(config.contains(
            "<file name=\"b\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\" lastVersion=\"\" />"));

        LauncherState reloaded;
        QVERIFY(loadConfigAndTell(reloaded));
        QCOMPARE(reloaded.servers.at(1).files.at("a").check.sha256, QByteArray("cc"));
        QCOMPARE(reloaded.launcherFileChecks.at("x.dll").sha256, QByteArray("bb"));
        QCOMPARE(reloaded.launcherBuildCheck.size, QByteArray("5"));
    }

    void serverIdsKeepTheirLowSixteenBits()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        QVERIFY(mergeUpdateListAndSave(state, "<servers>"
                                              "<server id=\"0x2\" name=\"hex\"/>"
                                              "<server id=\"65537\" name=\"wrapped\"/>"
                                              "<server id=\"-1\" name=\"negative\"/>"
                                              "<server id=\"  7\" name=\"spaced\"/>"
                                              "<server id=\"texto\" name=\"text\"/>"
                                              "</servers>"));
        QCOMPARE(state.servers.at(2).name, QByteArray("hex"));
        QCOMPARE(state.servers.at(1).name, QByteArray("wrapped"));
        QCOMPARE(state.servers.at(65535).name, QByteArray("negative"));
        QCOMPARE(state.servers.at(7).name, QByteArray("spaced"));
        QCOMPARE(state.servers.at(0).name, QByteArray("text"));
        for (const auto &[id, server] : state.servers)
            QCOMPARE(server.id, id);
        QVERIFY(configBytes().contains("<server id=\"65535\" name=\"negative\""));
    }

    void duplicatesFirstImageWinsLaterServerAndFileWin()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        QVERIFY(mergeUpdateListAndSave(
            state,
            "<images><file name=\"a.jpg\" href=\"first\"/><file name=\"a.jpg\" href=\"second\"/></images>"
            "<servers>"
            "<server id=\"1\" name=\"Old\" executable=\"old.exe\">"
            "<file name=\"a\" lastVersion=\"1\" cmd=\"first\"/>"
            "</server>"
            "<server id=\"1\" name=\"New\" executable=\"new.exe\">"
            "<file name=\"b\" lastVersion=\"2\"/>"
            "<file name=\"a\" lastVersion=\"3\"/>"
            "</server>"
            "</servers>"));
        QCOMPARE(state.images.size(), std::size_t(1));
        QCOMPARE(state.images.at("a.jpg").href, QByteArray("first"));
        const ServerEntry &server = state.servers.at(1);
        QCOMPARE(server.name, QByteArray("New"));
        QCOMPARE(server.executable, QByteArray("new.exe"));
        QCOMPARE(server.files.size(), std::size_t(2));
        QCOMPARE(server.files.at("a").lastVersion, QByteArray("3"));
        QCOMPARE(server.files.at("a").cmd, QByteArray()); // the later element replaces every field
    }

    void textAndCdataChildrenCountAsNamelessEntries()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        QVERIFY(mergeUpdateListAndSave(
            state, "<launcher>\n  texto <file name=\"a.dll\"/>\n  <![CDATA[x]]>\n</launcher>"
                   "<images><file name=\"i.png\" href=\"h\"/>solto</images>"));
        QCOMPARE(launcherFileNames(state), QByteArrayList({"", "a.dll", ""}));
        QCOMPARE(state.images.size(), std::size_t(2));
        QCOMPARE(state.images.at("").href, QByteArray());
    }

    void elementsAreLookedUpAtTheTopLevelOnly()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        QVERIFY(mergeUpdateListAndSave(state, "<root>"
                                              "<download path=\"http://x/\"/><launcher lastVersion=\"9\"/>"
                                              "<servers><server id=\"1\"/></servers></root>"));
        QCOMPARE(state.downloadPath, QByteArray());
        QCOMPARE(state.launcherLastVersion, QByteArray());
        QVERIFY(state.servers.empty());
    }

    void commentsAreDroppedOnTheNextSave()
    {
        TemporaryGameFolder folder;
        writeFileBytes(QStringLiteral("config.xml"), "<!-- nota do suporte -->\n" + defaultsConfig);
        LauncherState state;
        QVERIFY(loadConfigAndTell(state));
        QCOMPARE(configBytes(), defaultsConfig);

        // The launcher writes no NUL byte: a file with one is damaged, kept aside
        // and never cut short at it.
        const QByteArray damaged = defaultsConfig + QByteArray("\0<servers>", 10);
        writeFileBytes(QStringLiteral("config.xml"), damaged);
        LauncherState fresh;
        QVERIFY(!loadConfigAndTell(fresh));
        QCOMPARE(configBytes(), damaged);
        QCOMPARE(readFileBytes(QStringLiteral("config.xml.bad")), damaged);
    }

    void listInstalledVersionsOverrideLocalOnes()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        mergeUpdateListAndSave(state, "<servers><server id=\"1\"><file name=\"a\" installedVersion=\"1\" "
                                      "lastVersion=\"1\"/></server></servers>");
        mergeUpdateListAndSave(state, "<servers><server id=\"1\"><file name=\"a\" installedVersion=\"0\" "
                                      "lastVersion=\"2\"/></server></servers>");
        QCOMPARE(state.servers.at(1).files.at("a").installedVersion, QByteArray("0"));
    }

    void aMergeRemovesNoServerOrFileButRebuildsImagesAndLauncherFiles()
    {
        TemporaryGameFolder folder;
        LauncherState state;
        mergeUpdateListAndSave(state,
                               "<launcher><file name=\"old.dll\"/></launcher>"
                               "<images><file name=\"old.jpg\"/></images>"
                               "<servers>"
                               "<server id=\"1\" name=\"Um\"><file name=\"dropped\" installedVersion=\"1\" "
                               "lastVersion=\"2\"/></server>"
                               "<server id=\"2\" name=\"Dois\"/>"
                               "</servers>");
        mergeUpdateListAndSave(state, "<launcher><file name=\"new.dll\"/></launcher>"
                                      "<images><file name=\"new.jpg\"/></images>"
                                      "<servers><server id=\"1\" name=\"Um\"><file name=\"kept\" "
                                      "lastVersion=\"1\"/></server></servers>");

        QCOMPARE(launcherFileNames(state), QByteArrayList{"new.dll"});
        QCOMPARE(state.images.size(), std::size_t(1));
        QCOMPARE(state.images.count("new.jpg"), std::size_t(1));
        QCOMPARE(state.servers.at(2).name, QByteArray("Dois"));
        ServerEntry &server = state.servers.at(1);
        QCOMPARE(server.files.at("dropped").installedVersion, QByteArray("1"));
        QCOMPARE(server.files.at("dropped").lastVersion, QByteArray("2"));
        // Kept, but not due or counted while the release does not name it, also
        // after a restart; named again, it is due again.
        QCOMPARE(LauncherState::pendingFiles(server).count("dropped"), std::size_t(0));
        QCOMPARE(LauncherState::serverStatus(server), ServerStatus::Install);
        LauncherState reloaded;
        QVERIFY(loadConfigAndTell(reloaded));
        QCOMPARE(LauncherState::pendingFiles(reloaded.servers.at(1)).size(), std::size_t(1));
        QVERIFY(configBytes().contains("name=\"dropped\""));
        mergeUpdateListAndSave(reloaded,
                               "<servers><server id=\"1\"><file name=\"dropped\" lastVersion=\"2\"/>"
                               "<file name=\"kept\" lastVersion=\"1\"/></server></servers>");
        QCOMPARE(LauncherState::pendingFiles(reloaded.servers.at(1)).size(), std::size_t(2));
    }

    void configWithCrLfLineEndsLoads()
    {
        TemporaryGameFolder folder;
        QByteArray crlf = defaultsConfig;
        crlf.replace("\n", "\r\n");
        crlf.replace("installedVersion=\"1.2\"", "installedVersion=\"1.1\"");
        writeFileBytes(QStringLiteral("config.xml"), crlf);
        LauncherState state;
        QVERIFY(loadConfigAndTell(state));
        QCOMPARE(state.launcherInstalledVersion, QByteArray("1.1"));
        QVERIFY(!configBytes().contains('\r'));
    }

    void malformedConfigIsReportedKeptAndNotOverwritten()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        const QByteArray broken = "<launcher installedVersion=\"1.0\"><servers>";
        writeFileBytes(QStringLiteral("config.xml"), broken);

        LauncherState state;
        QVERIFY(!loadConfigAndTell(state));
        QCOMPARE(boxes.texts(), QStringList{unreadableListText});
        QCOMPARE(boxes.boxes.front().title, QStringLiteral("Erro"));
        QCOMPARE(state.launcherInstalledVersion, QByteArray("1.2"));
        QCOMPARE(configBytes(), broken);
        QCOMPARE(readFileBytes(QStringLiteral("config.xml.bad")), broken);
        // What config.xml held is the player's business alone.
        QCOMPARE(QFile::permissions(QStringLiteral("config.xml.bad")) & ~QFile::Permissions(0x0f00),
                 QFile::ReadOwner | QFile::WriteOwner);

        // A later merge may then replace it; the copy stays for support.
        QVERIFY(mergeUpdateListAndSave(state, "<launcher lastVersion=\"1.3\"/>"));
        QVERIFY(configBytes().startsWith("<?xml"));
        QCOMPARE(readFileBytes(QStringLiteral("config.xml.bad")), broken);
    }

    void malformedUpdateListChangesNothing()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        LauncherState state;
        mergeUpdateListAndSave(
            state, "<download path=\"http://x/\"/><servers><server id=\"1\" name=\"Um\"/></servers>");
        const QByteArray before = configBytes();

        for (const char *bad :
             {"", "<html><body>404", "texto solto", "<a></b>", "<servers><server id=\"2\">"}) {
            QVERIFY2(!mergeUpdateListAndSave(state, bad), bad);
        }
        QCOMPARE(boxes.boxes.size(), std::size_t(5));
        QCOMPARE(state.downloadPath, QByteArray("http://x/"));
        QCOMPARE(state.servers.size(), std::size_t(1));
        QCOMPARE(configBytes(), before);
        QVERIFY(!QFile::exists(QStringLiteral("config.xml.bad")));
    }

    void unwritableConfigLeavesTheOldOneAndNoLitter()
    {
        TemporaryGameFolder folder;
        // Tests may run as root, so a folder stands where the file is expected.
        QVERIFY(QDir().mkdir(QStringLiteral("config.xml")));
        writeFileBytes(QStringLiteral("config.xml/inside"), "keep");

        LauncherState state;
        QVERIFY(!loadConfigAndTell(state));
        QVERIFY(!state.saveConfig());
        QVERIFY(mergeUpdateListAndSave(state, "<launcher lastVersion=\"2\"/>"));
        QCOMPARE(state.launcherLastVersion, QByteArray("2"));
        QCOMPARE(readFileBytes(QStringLiteral("config.xml/inside")), QByteArray("keep"));
        QCOMPARE(entriesBesidesTheLog(), QStringList{QStringLiteral("config.xml")});
    }
};

QTEST_GUILESS_MAIN(DocumentsTest)
#include "documents_test.moc"
