// Runs the launcher's own code paths for bench/run and prints what it measured,
// one "name=value" per line.
//
// clang-format off
//   launcherbench download URL OUT        one file through the window's runner with a bar and a label
//   launcherbench install LIST_URL [ID]   start-up synchronisation, then server ID (1) installed as a click
//                                         would; ends with 0 once the server can be played (the power-cut
//                                         test kills it on the way)
//   launcherbench repair LIST_URL ID      start-up synchronisation, then "Verificar e reparar" on server ID
//   launcherbench fetch BASE NAMES OUT LIMIT_KB PAUSE_AT PAUSE_MS
//                                         the files NAMES lists (one per line, below BASE) fetched into OUT as
//                                         a server's install is, under a speed limit (0: none), paused for
//                                         PAUSE_MS once PAUSE_AT bytes arrived (0: never); the rate held is
//                                         measured over every 1 s and 60 s
//   launcherbench chunk FILE              the file cut into chunks: boundaries alone, then with their hashes
//   launcherbench documents SERVERS FILES mergeDocument + saveConfig, then loadConfig
//   launcherbench show                    builds and shows the window on the config.xml at hand, then ends
// clang-format on

#include "state/configsteps.h"
#include "buildconfig.h"
#include "chunks/contentchunker.h"
#include "chunks/filefetch.h"
#include "fetchrunner.h"
#include "state/launcherstate.h"
#include "mainwindow.h"
#include "messages.h"
#include "names.h"
#include "processmemory.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Runs the event loop until the window's start-up synchronisation has handed the
// window to the player (its progress bar stands at 100).
void waitUntilSynchronised(QWidget &window)
{
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("action_progressBar"));
    QEventLoop waiting;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (bar->value() == 100)
            waiting.quit();
    });
    poll.start(1);
    waiting.exec();
}

void print(const char *name, double value)
{
    std::printf("%s=%.3f\n", name, value);
}

// The window must never stutter: the longest gap between two ticks of a 10 ms
// timer while the object lives.
class TickGap
{
public:
    TickGap()
    {
        QObject::connect(&ticks, &QTimer::timeout,
                         [this] { longest = std::max(longest, sinceTick.restart()); });
        ticks.start(10);
        sinceTick.start();
    }
    ~TickGap()
    {
        print("longest_tick_gap_ms", double(longest));
        print("peak_rss_mib", double(peakResidentKilobytes()) / 1024.0);
    }

private:
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticks;
};

int download(const char *url, const char *out)
{
    QProgressBar bar;
    QLabel label;
    FetchRunner runner(nullptr, &bar, &label);
    const QByteArray address(url);
    const int nameStart = address.lastIndexOf('/') + 1;
    FetchPlan plan{"Bench", ".", {address.left(nameStart)}, QByteArray(), {}};
    plan.items.push_back({address.mid(nameStart), out, ContentCheck()});

    const TickGap gap;
    QElapsedTimer clock;
    clock.start();
    const bool stored = runner.run(plan).succeeded();
    print("seconds", clock.nsecsElapsed() / 1e9);
    return stored ? 0 : 1;
}

// The largest share by which the rate over any window of windowMs, from the
// first second on, exceeds limit, and the largest by which it falls short.
std::pair<double, double> rateDeviation(const std::vector<std::pair<qint64, qint64>> &samples,
                                        qint64 windowMs, double limit)
{
    double over = 0, under = 0;
    std::size_t end = 0;
    for (std::size_t start = 0; start < samples.size(); ++start) {
        if (samples[start].first < 1000)
            continue;
        while (end < samples.size() && samples[end].first < samples[start].first + windowMs)
            ++end;
        if (end == samples.size())
            break;
        const double rate = double(samples[end].second - samples[start].second) * 1000 /
                            double(samples[end].first - samples[start].first);
        over = std::max(over, rate / limit - 1);
        under = std::max(under, 1 - rate / limit);
    }
    return {over, under};
}

int fetch(const char *base, const char *namesFile, const char *out, qint64 limitKilobytes, qint64 pauseAt,
          qint64 pauseMs)
{
    QFile names(QString::fromLocal8Bit(namesFile));
    if (!names.open(QIODevice::ReadOnly))
        return 1;
    FetchPlan plan{"Bench", ".", {base}, QByteArray(), {}};
    for (const QByteArray &name : names.readAll().split('\n')) {
        if (!name.isEmpty())
            plan.items.push_back({name, out + ('/' + name.mid(name.lastIndexOf('/') + 1)), ContentCheck()});
    }
    TransferPolicy policy;
    policy.control->limitSpeed(limitKilobytes * 1024);
    FileFetch work(plan, policy);
    std::vector<std::pair<qint64, qint64>> samples; // milliseconds since the start, bytes received by then
    qint64 pausedFrom = -1, receivedAtPause = 0, receivedWhilePaused = 0;
    QElapsedTimer clock;
    clock.start();
    for (bool unfinished = true; unfinished;) {
        unfinished = work.run(20);
        const qint64 received = work.progress().received, at = clock.elapsed();
        if (samples.empty() || at - samples.back().first >= 10 || !unfinished)
            samples.emplace_back(at, received);
        if (pauseAt > 0 && pausedFrom < 0 && received >= pauseAt) {
            policy.control->pause(true);
            work.run(0); // the pause holds from the next slice: what that slice received counts before it
            pausedFrom = at;
            receivedAtPause = work.progress().received;
        } else if (pausedFrom >= 0 && policy.control->isPaused() && at - pausedFrom >= pauseMs) {
            receivedWhilePaused = received - receivedAtPause;
            policy.control->pause(false);
        }
    }
    print("seconds", clock.nsecsElapsed() / 1e9);
    print("received_bytes", double(samples.back().second));
    print("received_while_paused_bytes", double(receivedWhilePaused));
    if (limitKilobytes > 0) {
        const double limit = double(limitKilobytes) * 1024;
        print("second_over_limit", rateDeviation(samples, 1000, limit).first);
        const auto minute = rateDeviation(samples, 60000, limit);
        print("minute_off_limit", std::max(minute.first, minute.second));
    }
    return work.result().succeeded() ? 0 : 1;
}

int install(const char *listUrl, int id, bool repair)
{
    buildSettings().updateListUrl = listUrl;
    MainWindow window;
    window.show();
    waitUntilSynchronised(window);

    const TickGap gap;
    QElapsedTimer clock;
    clock.start();
    if (repair)
        window.findChild<QAction *>(QStringLiteral("repair_server_%1").arg(id))->trigger();
    else
        QMetaObject::invokeMethod(
            &window, QStringLiteral("on_button_server_%1_clicked").arg(id).toLatin1().constData());
    print("seconds", clock.nsecsElapsed() / 1e9);
    const auto *button = window.findChild<QPushButton *>(QStringLiteral("button_server_%1").arg(id));
    return button->text().endsWith(QLatin1String(" (Jogar)")) ? 0 : 1;
}

int chunk(const char *path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll(); // from memory: the chunker's own speed
    const ChunkParameters parameters;
    const ContentChunker chunker(parameters);
    QElapsedTimer clock;
    clock.start();
    std::size_t chunks = 0;
    for (std::size_t at = 0; at < std::size_t(bytes.size()); ++chunks)
        at += chunker.nextCut(reinterpret_cast<const unsigned char *>(bytes.constData()) + at,
                              bytes.size() - at);
    print("boundaries_gb_per_s", bytes.size() / (clock.nsecsElapsed() / 1e9) / 1e9);
    print("average_chunk_kib", bytes.size() / 1024.0 / double(chunks));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    clock.restart();
    forEachChunk(buffer, parameters,
                 [](qint64, const char *, std::size_t, const ChunkHash &) { return true; });
    print("chunks_and_hashes_gb_per_s", bytes.size() / (clock.nsecsElapsed() / 1e9) / 1e9);
    return 0;
}

int documents(int servers, int files)
{
    QByteArray list = "<download path=\"http://127.0.0.1:8765/\"/><launcher lastVersion=\"1.2\"/><servers>";
    for (int server = 1; server <= servers; ++server) {
        list +=
            "<server id=\"" + QByteArray::number(server) + "\" name=\"Servidor\" executable=\"jogo.exe\">";
        for (int file = 0; file < files; ++file)
            list += "<file name=\"dados/arquivo-" + QByteArray::number(file) + ".dat\" lastVersion=\"" +
                    QByteArray::number(file * 7919, 16) + "\"/>";
        list += "</server>";
    }
    list += "</servers>";

    QElapsedTimer clock;
    clock.start();
    LauncherState merged;
    mergeUpdateListAndSave(merged, list.constData());
    print("merge_and_save_ms", clock.nsecsElapsed() / 1e6);
    clock.restart();
    LauncherState loaded;
    loadConfigAndTell(loaded);
    print("load_ms", clock.nsecsElapsed() / 1e6);
    return loaded.servers.size() == std::size_t(servers) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    useUtf8FileNames();
    // The bench's HTTPS server has a test authority of its own.
    if (const char *authority = std::getenv("LAUNCHERBENCH_CERTIFICATE_AUTHORITY"))
        buildSettings().certificateAuthorityFile = authority;
    QApplication application(argc, argv);
    setMessageBoxPresenter(
        [](const MessageBoxRequest &box) { std::fprintf(stderr, "box: %s\n", qUtf8Printable(box.text)); });
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "download" && argc == 4)
        return download(argv[2], argv[3]);
    if ((mode == "install" && (argc == 3 || argc == 4)) || (mode == "repair" && argc == 4))
        return install(argv[2], argc == 4 ? std::atoi(argv[3]) : 1, mode == "repair");
    if (mode == "fetch" && argc == 8)
        return fetch(argv[2], argv[3], argv[4], std::atoll(argv[5]), std::atoll(argv[6]),
                     std::atoll(argv[7]));
    if (mode == "chunk" && argc == 3)
        return chunk(argv[2]);
    if (mode == "documents" && argc == 4)
        return documents(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "show" && argc == 2) {
        MainWindow window;
        window.show(); // the window is on screen; the start-up synchronisation would follow
        return 0;
    }
    std::fprintf(stderr,
                 "usage: launcherbench download URL OUT | install LIST_URL [ID] | repair LIST_URL ID | "
                 "fetch BASE NAMES OUT LIMIT_KB PAUSE_AT PAUSE_MS | chunk FILE | "
                 "documents SERVERS FILES | show\n");
    return 2;
}
