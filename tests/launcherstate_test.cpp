// Which client files are due and what each server button offers.

#include "launcherstate.h"

#include <QtTest>

namespace {

FileEntry file(const char *name, const char *installed, const char *last)
{
    FileEntry entry;
    entry.name = name;
    entry.installedVersion = installed;
    entry.lastVersion = last;
    return entry;
}

ServerEntry serverWith(std::initializer_list<FileEntry> files)
{
    ServerEntry server;
    for (const FileEntry &entry : files)
        server.files.emplace(entry.name, entry);
    return server;
}

} // namespace

class LauncherStateTest : public QObject
{
    Q_OBJECT

private slots:
    void statusFollowsHowManyFilesAreDue()
    {
        {
            ServerEntry noFiles;
            QCOMPARE(LauncherState::serverStatus(noFiles), ServerStatus::Install);
        }
        {
            ServerEntry allDue = serverWith({file("a", "", "1"), file("b", "1", "2")});
            QCOMPARE(LauncherState::serverStatus(allDue), ServerStatus::Install);
        }
        {
            ServerEntry someDue = serverWith({file("a", "1", "1"), file("b", "1", "2")});
            QCOMPARE(LauncherState::serverStatus(someDue), ServerStatus::Update);
        }
        {
            ServerEntry noneDue = serverWith({file("a", "1", "1"), file("b", "", "")});
            QCOMPARE(LauncherState::serverStatus(noneDue), ServerStatus::Play);
        }
    }

    void anyDifferenceInTheLabelsMakesAFileDue()
    {
        ServerEntry server = serverWith({
            file("lower", "12", "11"), // an older label is still a change
            file("trailing", "1.2", "1.20"),
            file("emptied", "3", ""), // the server withdrew the version
            file("fresh", "", "1"),
            file("same", "7", "7"),
            file("neverVersioned", "", ""),
        });
        const auto pending = LauncherState::pendingFiles(server);
        QCOMPARE(QByteArrayList({"emptied", "fresh", "lower", "trailing"}), [&] {
            QByteArrayList names;
            for (const auto &entry : pending)
                names << entry.first;
            return names;
        }());
    }

    void pendingFilesComeInByteOrderAndLeadIntoTheServer()
    {
        ServerEntry server = serverWith({file("b.dat", "", "1"), file("A.exe", "", "1"), file("a", "", "1")});
        auto pending = LauncherState::pendingFiles(server);
        QCOMPARE(pending.begin()->first, QByteArray("A.exe"));
        QCOMPARE(std::next(pending.begin())->first, QByteArray("a"));

        // Committing through the result changes the server's own entry.
        pending.at("A.exe")->installedVersion = "1";
        QCOMPARE(server.files.at("A.exe").installedVersion, QByteArray("1"));
        QCOMPARE(LauncherState::pendingFiles(server).size(), std::size_t(2));
    }
};

QTEST_GUILESS_MAIN(LauncherStateTest)
#include "launcherstate_test.moc"
