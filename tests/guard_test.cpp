// One launcher per machine: the guard in this process, and real launchers.

#include "configsteps.h"
#include "gamefolder.h"
#include "launcherstate.h"
#include "reliability.h"
#include "singleinstanceguard.h"

#include <QProcess>
#include <QRegularExpression>
#include <QUuid>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

std::unique_ptr<QProcess> startLauncher()
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(QStringLiteral(LAUNCHER_BINARY), QStringList());
    return process;
}

// A launcher that has gone on running for a while holds the machine.
bool keepsRunning(QProcess &process)
{
    return process.waitForStarted() && !process.waitForFinished(3000);
}

bool exitedQuietly(QProcess &process)
{
    return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished();
}

} // namespace

class GuardTest : public QObject
{
    Q_OBJECT

private slots:
    void keysAreFortyHexDigitsAndDependOnTheSalt()
    {
        const QString lock = deriveKey(QStringLiteral("ZEVMIROndraLauncher"), QStringLiteral("_memLockKey"));
        const QString marker =
            deriveKey(QStringLiteral("ZEVMIROndraLauncher"), QStringLiteral("_sharedmemKey"));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$")).match(lock).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$")).match(marker).hasMatch());
        QCOMPARE(deriveKey(QStringLiteral("ZEVMIROndraLauncher"), QStringLiteral("_memLockKey")), lock);
        QVERIFY(lock != marker);
        // SHA-1 of the key's bytes followed by the salt's.
        QCOMPARE(deriveKey(QStringLiteral("ab"), QStringLiteral("c")),
                 QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    }

    void onlyOneHolderAtATime()
    {
        const QString key = QUuid::createUuid().toString();
        {
            SingleInstanceGuard first(key);
            QVERIFY(!first.otherInstanceRunning());
            QVERIFY(first.claim());
            QVERIFY(!first.otherInstanceRunning()); // the holder does not count itself

            SingleInstanceGuard second(key);
            QVERIFY(second.otherInstanceRunning());
            QVERIFY(!second.claim());
            // Another user who could take the lock could keep every launcher from starting.
            QCOMPARE(QFile::permissions(guardLockPath(deriveKey(key, QStringLiteral("_memLockKey")))) &
                         ~QFile::Permissions(0x0f00),
                     QFile::ReadOwner | QFile::WriteOwner);
        }
        SingleInstanceGuard afterwards(key);
        QVERIFY(afterwards.claim());
    }

    void aSecondLauncherLeavesQuietly()
    {
        TemporaryGameFolder folder;
        const auto first = startLauncher();
        QVERIFY(keepsRunning(*first));
        const auto second = startLauncher();
        QVERIFY(exitedQuietly(*second));
        QCOMPARE(first->state(), QProcess::Running);
        stop(*first);
    }

    void eightAtOnceLeaveExactlyOne()
    {
        // Several rounds: a race between starts shows only now and then.
        constexpr int rounds = 5;
        for (int round = 0; round < rounds; ++round) {
            TemporaryGameFolder folder;
            std::vector<std::unique_ptr<QProcess>> launchers;
            for (int i = 0; i < 8; ++i)
                launchers.push_back(startLauncher());
            const auto runningCount = [&] {
                return std::count_if(launchers.begin(), launchers.end(), [](const auto &launcher) {
                    return launcher->state() != QProcess::NotRunning;
                });
            };
            const bool settled = QTest::qWaitFor([&] { return runningCount() <= 1; }, 20000);
            QVERIFY2(settled,
                     qPrintable(QStringLiteral("round %1: %2 running").arg(round).arg(runningCount())));
            QTest::qWait(500); // a late starter would show itself now
            QCOMPARE(runningCount(), 1);
            // All eight wrote config.xml before seven of them stopped.
            LauncherState state;
            QVERIFY(mergeUpdateListAndSave(state, readFileBytes(QStringLiteral("config.xml")).constData()));
            for (const auto &launcher : launchers) {
                if (launcher->state() == QProcess::NotRunning)
                    QVERIFY(launcher->exitStatus() == QProcess::NormalExit && launcher->exitCode() == 0);
                stop(*launcher);
            }
        }
        reportReliability(
            QStringLiteral("concurrency"), QStringLiteral("eight launchers started at once"), rounds,
            QStringLiteral("each time exactly one went on running; seven ended with status 0 unseen"));
    }

    void updateModeRunsBesideARunningLauncher()
    {
        TemporaryGameFolder folder;
        const auto running = startLauncher();
        QVERIFY(keepsRunning(*running));

        TemporaryGameFolder other;
        writeFileBytes(QStringLiteral("newLauncher.exe"), "new build");
        QProcess update;
        update.start(QStringLiteral(LAUNCHER_BINARY), {QStringLiteral("-update")});
        QVERIFY(update.waitForFinished(15000));
        QCOMPARE(update.exitCode(), 1);
        QCOMPARE(readFileBytes(QStringLiteral("launcher.exe")), QByteArray("new build"));
        QCOMPARE(running->state(), QProcess::Running);
        stop(*running);
        reportReliability(
            QStringLiteral("concurrency"), QStringLiteral("update mode while a launcher runs"), 1,
            QStringLiteral("the new build was copied into place; the running launcher went on"));
    }

    void aKilledHolderDoesNotLockThePlayerOut()
    {
        TemporaryGameFolder folder;
        const auto killed = startLauncher();
        QVERIFY(keepsRunning(*killed));
        stop(*killed); // SIGKILL: no chance to let go of the marker
        const auto next = startLauncher();
        QVERIFY(keepsRunning(*next));
        stop(*next);
    }
};

QTEST_GUILESS_MAIN(GuardTest)
#include "guard_test.moc"
