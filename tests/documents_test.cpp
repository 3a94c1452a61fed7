// The update list and config.xml: what a merge keeps, the exact bytes written,
// which files are due, and what a damaged, locked or unwritable config.xml leads to.

#include "boxrecorder.h"
#include "state/configsteps.h"
#include "gamefolder.h"
#include "state/launcherstate.h"
#include "state/playersettings.h"
#include "playertexts.h"
#include "tablerows.h"
#include "testmain.h"

#include <QtTest>

#include <functional>
#include <thread>

namespace {

const QByteArray defaults = "<?xml version=\"1.0\"?>\n<tsqp version=\"1.0\" />\n<download path=\"\" />\n"
                            "<launcher installedVersion=\"1.2\" lastVersion=\"\" />\n"
                            "<images installedVersion=\"\" lastVersion=\"\" />\n<servers />\n";

// Lists merged in turn into a fresh state: config.xml then holds every text of
// present and none of absent.
struct MergeRule {
    const char *what;
    QByteArrayList lists, present, absent = {};
    std::function<void(LauncherState &)> check = {};
};

std::vector<MergeRule> mergeRules()
{
    const auto pending = [](LauncherState &state, int id) {
        return LauncherState::pendingFiles(state.servers.at(id)).size();
    };
    return {
        {"what a file is checked and patched by, kept as the list gives it",
         {"<servers><server id=\"1\"><file name=\"a.pak\" lastVersion=\"2\" size=\"5\" sha256=\"ab\" "
          "chunks=\"cd\" chunkDeltas=\"ef\" deltaFrom=\"01\" deltaSize=\"3\" chunkPages=\"12\" pack=\"p\" "
          "packOffset=\"4\" packSize=\"9\" chunkPack=\"c\" chunkPackSize=\"8\"/></server></servers>"},
         {"lastVersion=\"2\" size=\"5\" sha256=\"ab\" chunks=\"cd\" chunkDeltas=\"ef\" chunkPages=\"12\" "
          "deltaFrom=\"01\" deltaSize=\"3\""},
         // Where a file lies in a pack serves a download only: the list gives it anew.
         {"pack", "chunkPack"},
         [](LauncherState &state) {
             const ContentCheck &check = state.servers.at(1).files.at("a.pak").check;
             QCOMPARE(check.chunkDeltasSha256 + check.deltaFrom + check.deltaSize + check.chunkPagesSha256 +
                          check.packSha256 + check.packOffset + check.packSize + check.chunkPackSha256 +
                          check.chunkPackSize,
                      QByteArray("ef01312p49c8"));
         }},
        {"installed versions kept under the list's values, byte for byte",
         {"<launcher installedVersion=\"1.3\"/><images installedVersion=\"7\"/><servers><server id=\"1\">"
          "<file name=\"ZEV1.exe\" installedVersion=\"11\"/>"
          "<file name=\"patch.exe\" installedVersion=\"3\"/>"
          "<file name=\"data.pak\" installedVersion=\"11\"/></server></servers>",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><download path=\"http://127.0.0.1:8765/\"/>"
          "<mirror path=\"https://espelho/\"/><launcher lastVersion=\"1.3\"><file name=\"extra.dll\"/>"
          "</launcher><images lastVersion=\"7\">"
          "<file name=\"banner1.jpg\" href=\"http://127.0.0.1/news/1\"/></images><servers>"
          "<server id=\"1\" name=\"Servidor 1\" executable=\"ZEV1.exe\">"
          "<file name=\"ZEV1.exe\" lastVersion=\"12\"/>"
          "<file name=\"patch.exe\" function=\"exec\" value=\"/quiet\" lastVersion=\"3\"/>"
          "<file name=\"data.pak\" cmd=\"echo pronto &amp;&amp; exit 0\" lastVersion=\"12\"/></server>"
          "</servers>"},
         {"<?xml version=\"1.0\"?>\n<tsqp version=\"1.0\" />\n"
          "<download path=\"http://127.0.0.1:8765/\" />\n"
          "<launcher installedVersion=\"1.3\" lastVersion=\"1.3\">\n\t<file name=\"extra.dll\" />\n"
          "</launcher>\n<images installedVersion=\"7\" lastVersion=\"7\">\n"
          "\t<file name=\"banner1.jpg\" href=\"http://127.0.0.1/news/1\" />\n</images>\n<servers>\n"
          "\t<server id=\"1\" name=\"Servidor 1\" executable=\"ZEV1.exe\">\n"
          "\t\t<file name=\"ZEV1.exe\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"11\" "
          "lastVersion=\"12\" />\n"
          "\t\t<file name=\"data.pak\" function=\"\" value=\"\" cmd=\"echo pronto &amp;&amp; exit 0\" "
          "installedVersion=\"11\" lastVersion=\"12\" />\n"
          "\t\t<file name=\"patch.exe\" function=\"exec\" value=\"/quiet\" cmd=\"\" installedVersion=\"3\" "
          "lastVersion=\"3\" />\n"
          "\t</server>\n</servers>\n"},
         {"espelho"}, // mirrors come from the list alone
         [](LauncherState &state) {
             QCOMPARE(state.downloadBases(),
                      (std::vector<QByteArray>{"http://127.0.0.1:8765/", "https://espelho/"}));
             QCOMPARE(LauncherState::serverStatus(state.servers.at(1)), ServerStatus::Update);
         }},
        {"at most eight mirrors, the first ones",
         {"<download path=\"http://a/\"/>" + QByteArray("<mirror path=\"http://m/\"/>").repeated(2000)},
         {},
         {},
         [](LauncherState &state) { QCOMPARE(state.downloadBases().size(), std::size_t(9)); }},
        {"a missing element counts as one without attributes",
         {"<download path=\"http://old/\"/><launcher installedVersion=\"1.5\" lastVersion=\"1.6\"/>"
          "<images installedVersion=\"3\" lastVersion=\"4\"/>",
          "<launcher lastVersion=\"1.7\"/><servers><server/></servers>"},
         {"<download path=\"\" />", "<launcher installedVersion=\"1.5\" lastVersion=\"1.7\" />",
          "<images installedVersion=\"3\" lastVersion=\"\" />", "<server id=\"0\""}},
        {"an attribute present but empty counts",
         {"<launcher installedVersion=\"1.5\"/><images installedVersion=\"3\"/>",
          "<launcher installedVersion=\"\" /><images installedVersion=\"\"/><servers><server id=\"4\">"
          "<file lastVersion=\"2\"/><file name=\"x\" installedVersion=\"\"/></server></servers>"},
         {"<launcher installedVersion=\"\"", "<images installedVersion=\"\"",
          "<file name=\"\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\" lastVersion=\"2\" />",
          "<file name=\"x\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\" lastVersion=\"\" />"}},
        {"content checks only where the list gives them",
         {"<launcher lastVersion=\"2\" size=\"5\" sha256=\"aa\"><file name=\"x.dll\" "
          "sha256=\"bb\"/></launcher>"
          "<images><file name=\"i.png\" size=\"7\"/></images><servers><server id=\"1\">"
          "<file name=\"a\" size=\"9\" sha256=\"cc\"/><file name=\"b\"/></server></servers>"},
         {"<launcher installedVersion=\"1.2\" lastVersion=\"2\" size=\"5\" sha256=\"aa\">",
          "<file name=\"x.dll\" sha256=\"bb\" />", "<file name=\"i.png\" href=\"\" size=\"7\" />",
          "installedVersion=\"\" lastVersion=\"\" size=\"9\" sha256=\"cc\" />",
          "<file name=\"b\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\" lastVersion=\"\" />"}},
        {"server ids keep their low sixteen bits",
         {"<servers><server id=\"0x2\" name=\"hex\"/><server id=\"65537\" name=\"wrapped\"/>"
          "<server id=\"-1\" name=\"negative\"/><server id=\"  7\" name=\"spaced\"/>"
          "<server id=\"texto\" name=\"text\"/></servers>"},
         {"<server id=\"0\" name=\"text\"", "<server id=\"1\" name=\"wrapped\"",
          "<server id=\"2\" name=\"hex\"", "<server id=\"7\" name=\"spaced\"",
          "<server id=\"65535\" name=\"negative\""}},
        {"the first image wins, the later server and file",
         {"<images><file name=\"a.jpg\" href=\"first\"/><file name=\"a.jpg\" "
          "href=\"second\"/></images><servers>"
          "<server id=\"1\" name=\"Old\" executable=\"old.exe\"><file name=\"a\" lastVersion=\"1\" "
          "cmd=\"first\"/>"
          "</server><server id=\"1\" name=\"New\" executable=\"new.exe\"><file name=\"b\" lastVersion=\"2\"/>"
          "<file name=\"a\" lastVersion=\"3\"/></server></servers>"},
         {"href=\"first\"", "<server id=\"1\" name=\"New\" executable=\"new.exe\">",
          "<file name=\"a\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"\" lastVersion=\"3\" />",
          "<file name=\"b\""},
         {"second", "Old", "cmd=\"first\""}},
        {"text and CDATA children are nameless entries",
         {"<launcher>\n  texto <file name=\"a.dll\"/>\n  <![CDATA[x]]>\n</launcher>"
          "<images><file name=\"i.png\" href=\"h\"/>solto</images>"},
         {"\t<file name=\"\" />\n\t<file name=\"a.dll\" />\n\t<file name=\"\" />\n",
          "\t<file name=\"\" href=\"\" />\n\t<file name=\"i.png\" href=\"h\" />\n"}},
        {"values written as they came, spaces too",
         {"<download path=\" http://x/ \"/><servers><server id=\"1\" name=\" Um \"/></servers>"},
         {"<download path=\" http://x/ \" />", "name=\" Um \""}},
        {"elements only at the top level",
         {"<root><download path=\"http://x/\"/><launcher lastVersion=\"9\"/><servers><server id=\"1\"/>"
          "</servers></root>"},
         {defaults}},
        {"the list's installed versions override the local ones",
         {"<servers><server id=\"1\"><file name=\"a\" installedVersion=\"1\" "
          "lastVersion=\"1\"/></server></servers>",
          "<servers><server id=\"1\"><file name=\"a\" installedVersion=\"0\" "
          "lastVersion=\"2\"/></server></servers>"},
         {"installedVersion=\"0\" lastVersion=\"2\""}},
        {"a merge removes no server or file, but rebuilds images and launcher files",
         {"<launcher><file name=\"old.dll\"/></launcher><images><file name=\"old.jpg\"/></images><servers>"
          "<server id=\"1\" name=\"Um\"><file name=\"dropped\" installedVersion=\"1\" "
          "lastVersion=\"2\"/></server>"
          "<server id=\"2\" name=\"Dois\"/></servers>",
          "<launcher><file name=\"new.dll\"/></launcher><images><file name=\"new.jpg\"/></images><servers>"
          "<server id=\"1\" name=\"Um\"><file name=\"kept\" lastVersion=\"1\"/></server></servers>"},
         {"<file name=\"new.dll\"", "new.jpg", "<server id=\"2\" name=\"Dois\"",
          "name=\"dropped\" function=\"\" value=\"\" cmd=\"\" installedVersion=\"1\" lastVersion=\"2\""},
         {"old.dll", "old.jpg"},
         [pending](LauncherState &state) {
             // Kept, but not due or counted while the release does not name it,
             // also after a restart; named again, it is due again.
             QCOMPARE(pending(state, 1), std::size_t(1));
             QCOMPARE(LauncherState::serverStatus(state.servers.at(1)), ServerStatus::Install);
             LauncherState reloaded;
             QVERIFY(loadConfigAndTell(reloaded));
             QCOMPARE(pending(reloaded, 1), std::size_t(1));
             mergeUpdateListAndSave(reloaded,
                                    "<servers><server id=\"1\"><file name=\"dropped\" lastVersion=\"2\"/>"
                                    "<file name=\"kept\" lastVersion=\"1\"/></server></servers>");
             QCOMPARE(pending(reloaded, 1), std::size_t(2));
         }},
    };
}

// A server's files as name:installed:last, and what its button then offers.
struct DueRule {
    QByteArrayList files;
    ServerStatus status;
    QByteArrayList due; // in the order they are fetched
};

const DueRule dueRules[] = {
    {{}, ServerStatus::Install, {}},
    {{"a::1", "b:1:2"}, ServerStatus::Install, {"a", "b"}},
    {{"a:1:1", "b:1:2"}, ServerStatus::Update, {"b"}},
    {{"a:1:1", "b::"}, ServerStatus::Play, {}},
    // Any difference counts: an older label, a trailing zero, a withdrawn version.
    {{"lower:12:11", "trailing:1.2:1.20", "emptied:3:", "same:7:7", "b.dat::1", "A.exe::1"},
     ServerStatus::Update,
     {"A.exe", "b.dat", "emptied", "lower", "trailing"}},
};

} // namespace

class DocumentsTest : public QObject
{
    Q_OBJECT

private slots:
    void mergesKeepWhatTheRulesSay_data() { addTableRows(mergeRules()); }

    void mergesKeepWhatTheRulesSay()
    {
        const MergeRule merge = currentRow(mergeRules());
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        LauncherState state;
        for (const QByteArray &list : merge.lists)
            QVERIFY(mergeUpdateListAndSave(state, list.constData()));
        const QByteArray config = configBytes();
        for (const QByteArray &text : merge.present)
            QVERIFY2(config.contains(text), (text + "\nnot in\n" + config).constData());
        for (const QByteArray &text : merge.absent)
            QVERIFY2(!config.contains(text), text.constData());
        // What is written reads back to the same bytes.
        LauncherState reread;
        QVERIFY(loadConfigAndTell(reread));
        QCOMPARE(reread.document(DocumentKind::Config), config);
        QVERIFY(boxes.boxes.empty());
        if (merge.check)
            merge.check(state);
    }

    void dueFilesAndWhatTheButtonOffers()
    {
        for (const DueRule &rule : dueRules) {
            ServerEntry server;
            for (const QByteArray &file : rule.files) {
                const QByteArrayList fields = file.split(':');
                server.files[fields[0]] = FileEntry{fields[1], fields[2], {}, {}, {}, fields[0], {}};
            }
            QCOMPARE(LauncherState::serverStatus(server), rule.status);
            QByteArrayList due;
            for (const auto &[name, entry] : LauncherState::pendingFiles(server))
                due << name;
            QCOMPARE(due, rule.due);
        }
    }

    void aMalformedListChangesNothing()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        LauncherState state;
        mergeUpdateListAndSave(state, "<download path=\"http://x/\"/><servers><server id=\"1\"/></servers>");
        const QByteArray before = configBytes();
        for (const char *bad :
             {"", "<html><body>404", "texto solto", "<a></b>", "<servers><server id=\"2\">"})
            QVERIFY2(!mergeUpdateListAndSave(state, bad), bad);
        QCOMPARE(boxes.texts(), QVector<QString>(5, PlayerText::unreadableList).toList());
        QCOMPARE(state.servers.size(), std::size_t(1));
        QCOMPARE(configBytes(), before);
        QVERIFY(!QFile::exists("config.xml.bad"));
    }

    void configAsFoundAtTheStart_data()
    {
        QTest::addColumn<QByteArray>("found"); // null: none
        QTest::addColumn<QByteArray>("after"); // null: kept as found, and a copy aside
        QByteArray crlf = defaults;
        crlf.replace("\n", "\r\n").replace("installedVersion=\"1.2\"", "installedVersion=\"1.1\"");
        QTest::newRow("none") << QByteArray() << defaults;
        QTest::newRow("a comment, dropped") << "<!-- nota do suporte -->\n" + defaults << defaults;
        QTest::newRow("CR LF line ends")
            << crlf << QByteArray(defaults).replace("installedVersion=\"1.2\"", "installedVersion=\"1.1\"");
        // The launcher writes no NUL byte: a file with one is damaged, never cut short at it.
        QTest::newRow("a NUL byte") << defaults + QByteArray("\0<servers>", 10) << QByteArray();
        QTest::newRow("malformed") << QByteArray("<launcher installedVersion=\"1.0\"><servers>")
                                   << QByteArray();
    }

    void configAsFoundAtTheStart()
    {
        QFETCH(QByteArray, found);
        QFETCH(QByteArray, after);
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        if (!found.isNull())
            writeFileBytes("config.xml", found);
        LauncherState state;
        QCOMPARE(loadConfigAndTell(state), !after.isNull());
        QCOMPARE(configBytes(), after.isNull() ? found : after);
        if (!after.isNull()) {
            QVERIFY(boxes.boxes.empty());
            QCOMPARE(entriesBesidesTheLog(), QStringList{"config.xml"});
            return;
        }
        QCOMPARE(boxes.texts(), QStringList{PlayerText::unreadableList});
        QCOMPARE(boxes.boxes.front().title, "Erro");
        QCOMPARE(readFileBytes("config.xml.bad"), found);
#ifndef Q_OS_WIN // where the folder's permissions decide
        // What config.xml held is the player's business alone.
        QCOMPARE(QFile::permissions("config.xml.bad") & ~QFile::Permissions(0x0f00),
                 QFile::ReadOwner | QFile::WriteOwner);
#endif
        // A later merge replaces it; the copy stays for support.
        QVERIFY(mergeUpdateListAndSave(state, "<launcher lastVersion=\"1.3\"/>"));
        QVERIFY(configBytes().startsWith("<?xml"));
        QCOMPARE(readFileBytes("config.xml.bad"), found);
    }

    // The player's settings beside config.xml: what cannot be read whole means the
    // defaults; a save keeps what it can read.
    void thePlayersSettingsOrTheDefaults()
    {
        const std::pair<QByteArray, qint64> found[] = {
            {QByteArray(), 0},
            {"limite_kb_por_segundo=2048\n", 2048},
            {"# nota do jogador\r\n  limite_kb_por_segundo = 512 \r\n", 512},
            {"de_uma_versao_futura=1\nlimite_kb_por_segundo=100", 100},
            {"limite_kb_por_segundo=muito", 0},
            {"limite_kb_por_segundo=-5", 0},
            {"limite_kb_por_segundo=2048\nlixo", 0},
            {"limite_kb_por_segundo=100\ngrupo_de_lancamento=10000", 0},
            {"limite_kb_por_segundo=100\ncanal=../teste", 0},
        };
        for (const auto &[contents, kilobytes] : found) {
            TemporaryGameFolder folder;
            if (!contents.isNull())
                writeFileBytes(QLatin1String(playerSettingsFileName), contents);
            QCOMPARE(loadPlayerSettings().speedLimitKilobytes, kilobytes);
        }
        // A save keeps the player's notes and a later version's settings, and drops
        // what could not be read; one that cannot write touches nothing else.
        const std::pair<QByteArray, QByteArray> saved[] = {
            {QByteArray(), "limite_kb_por_segundo=300\n"},
            {"# nota\nde_uma_versao_futura=1\nlimite_kb_por_segundo=muito\nlixo\n",
             "# nota\nde_uma_versao_futura=1\nlimite_kb_por_segundo=300\n"},
            {"a directory", QByteArray()},
        };
        for (const auto &[before, after] : saved) {
            TemporaryGameFolder folder;
            writeFileBytes("config.xml", "<config/>");
            if (after.isNull())
                QVERIFY(QDir().mkdir(QLatin1String(playerSettingsFileName)));
            else if (!before.isNull())
                writeFileBytes(QLatin1String(playerSettingsFileName), before);
            QCOMPARE(savePlayerSettings({300, {}, {}}), !after.isNull());
            QCOMPARE(loadPlayerSettings().speedLimitKilobytes, after.isNull() ? 0 : 300);
            if (!after.isNull())
                QCOMPARE(readFileBytes(QLatin1String(playerSettingsFileName)), after);
            QCOMPARE(readFileBytes("config.xml"), QByteArray("<config/>"));
        }
    }

    void aLockedOrUnwritableConfigIsNeverOverwritten()
    {
        TemporaryGameFolder folder;
        BoxRecorder boxes;
        LauncherState state, locked;
        mergeUpdateListAndSave(state, "<launcher lastVersion=\"1.2\"/>");
        const QByteArray before = configBytes();
        // What an antivirus or a scanner does to a file: held for a moment while the launcher reads it.
        const auto heldAMomentWhile = [](const std::function<bool()> &action) {
            auto held = std::make_unique<FileHold>("config.xml");
            std::thread scanner([&held] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                held.reset();
            });
            const bool done = action();
            scanner.join();
            return done && overrideFileAccess(true);
        };
        QVERIFY(heldAMomentWhile([&] { return loadConfigAndTell(state); })); // read after all

        // Held for good: told once, and this run's progress is not written over it.
        {
            FileHold held("config.xml");
            QVERIFY(!loadConfigAndTell(locked));
            mergeUpdateListAndSave(locked, "<launcher lastVersion=\"1.3\"/>");
        }
        // Read-only: the player learns that progress is not kept.
        QFile::setPermissions("config.xml", QFile::ReadOwner);
        mergeUpdateListAndSave(state, "<launcher lastVersion=\"1.3\"/>");
        QFile::setPermissions("config.xml", QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(overrideFileAccess(true));
        QCOMPARE(boxes.texts(), QStringList({PlayerText::configLocked, PlayerText::progressNotSaved}));
        QCOMPARE(configBytes(), before);

#ifdef Q_OS_WIN
        // Replaced after all, once the scanner lets go: only Windows renames nothing over a held file.
        QVERIFY(heldAMomentWhile(
            [&] { return mergeUpdateListAndSave(state, "<launcher lastVersion=\"1.4\"/>"); }));
        QVERIFY(configBytes().contains("lastVersion=\"1.4\"") && boxes.texts().size() == 2);
#endif
    }

    void debugLinesAreWrittenAsGiven()
    {
        static QStringList lines;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &line) { lines << line; });
        consoleMessage("100% %s %d %n");
        showErrorMessage(nullptr, "sem janela"); // without a window, a box is a debug line
        qInstallMessageHandler(previous);
        QCOMPARE(lines, QStringList({"100% %s %d %n", "Erro: sem janela"}));
    }
};

LAUNCHER_TEST_MAIN(DocumentsTest, QCoreApplication)
#include "documents_test.moc"
