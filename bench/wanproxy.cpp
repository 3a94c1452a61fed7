// A wide-area network on loopback, for bench/run: a TCP proxy in front of a
// local server that delays every byte by a fixed time each way and shares one
// bandwidth among all connections, as a player's line to a distant CDN would.
// The kernels of these machines have no netem, so the link lives here.
//
//   wanproxy LISTEN_PORT TARGET_PORT DELAY_MS MBIT_PER_S [CUTS] [STATS_FILE]
//
// MBIT_PER_S 0 means unlimited. CUTS is a comma-separated list of byte counts:
// the n-th connection is cut off after that many bytes towards the client, as a
// dropped line would (0 or missing: never). STATS_FILE receives, after each
// connection ends, the bytes sent towards clients so far.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::microseconds oneWayDelay;
double bytesPerSecond = 0; // 0: unlimited
std::vector<long long> cuts;
std::string statsFile;
std::atomic<long long> bytesToClients{0};
std::mutex statsMutex;

// The shared line: every byte towards a client waits for the ones before it.
std::mutex lineMutex;
Clock::time_point lineFreeAt;

Clock::time_point arrivalOf(std::size_t bytes, bool throughLine)
{
    const Clock::time_point now = Clock::now();
    if (!throughLine || bytesPerSecond <= 0)
        return now + oneWayDelay;
    std::lock_guard<std::mutex> lock(lineMutex);
    lineFreeAt = std::max(lineFreeAt, now) +
                 std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bytes / bytesPerSecond));
    return lineFreeAt + oneWayDelay;
}

struct Piece {
    Clock::time_point due;
    std::vector<char> bytes;
    bool last; // end of this direction: closed, or cut
};

// One direction of one connection: a reader that stamps each piece with the time
// it reaches the far end, and a writer that delivers it then.
class Direction
{
public:
    Direction(int from, int to, bool towardsClient, long long cutAfter)
        : from(from), to(to), towardsClient(towardsClient), cutAfter(cutAfter)
    {
    }

    void read()
    {
        long long forwarded = 0;
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
            bool last = got <= 0;
            if (got < 0)
                got = 0;
            if (towardsClient && cutAfter > 0 && forwarded + got >= cutAfter) {
                got = cutAfter - forwarded;
                last = cut = true;
            }
            forwarded += got;
            push({arrivalOf(std::size_t(got), towardsClient), {buffer.begin(), buffer.begin() + got}, last});
            if (last)
                return;
        }
    }

    void write()
    {
        for (;;) {
            Piece piece = pop();
            std::this_thread::sleep_until(piece.due);
            std::size_t at = 0;
            while (at < piece.bytes.size()) {
                const ssize_t sent = ::send(to, piece.bytes.data() + at, piece.bytes.size() - at, MSG_NOSIGNAL);
                if (sent <= 0)
                    break;
                at += std::size_t(sent);
            }
            if (towardsClient)
                bytesToClients += (long long)at;
            if (piece.last) {
                if (cut) { // the line drops: both ends see it at once
                    ::shutdown(to, SHUT_RDWR);
                    ::shutdown(from, SHUT_RDWR);
                } else {
                    ::shutdown(to, SHUT_WR);
                }
                return;
            }
        }
    }

private:
    void push(Piece piece)
    {
        std::unique_lock<std::mutex> lock(mutex);
        // What the line holds in flight, and no more: the sender feels the pace.
        changed.wait(lock, [this] { return queuedBytes < 4 * 1024 * 1024; });
        queuedBytes += piece.bytes.size();
        pieces.push_back(std::move(piece));
        changed.notify_all();
    }

    Piece pop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return !pieces.empty(); });
        Piece piece = std::move(pieces.front());
        pieces.pop_front();
        queuedBytes -= piece.bytes.size();
        changed.notify_all();
        return piece;
    }

    int from, to;
    bool towardsClient;
    long long cutAfter;
    std::atomic<bool> cut{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Piece> pieces;
    std::size_t queuedBytes = 0;
};

void serve(int client, int targetPort, long long cutAfter)
{
    // The handshake crosses the line once each way before the first request.
    std::this_thread::sleep_for(2 * oneWayDelay);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(targetPort));
    if (::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const int on = 1;
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Direction up(client, server, false, 0), down(server, client, true, cutAfter);
        std::thread threads[] = {std::thread(&Direction::read, &up), std::thread(&Direction::write, &up),
                                 std::thread(&Direction::read, &down), std::thread(&Direction::write, &down)};
        for (std::thread &thread : threads)
            thread.join();
    }
    ::close(server);
    ::close(client);
    if (!statsFile.empty()) {
        // Replaced whole, so that a reader never sees it half written.
        std::lock_guard<std::mutex> lock(statsMutex);
        const std::string written = statsFile + ".new";
        if (std::FILE *stats = std::fopen(written.c_str(), "w")) {
            std::fprintf(stats, "%lld\n", bytesToClients.load());
            if (std::fclose(stats) == 0)
                std::rename(written.c_str(), statsFile.c_str());
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: wanproxy LISTEN_PORT TARGET_PORT DELAY_MS MBIT_PER_S [CUTS] [STATS_FILE]\n");
        return 2;
    }
    const int listenPort = std::atoi(argv[1]);
    const int targetPort = std::atoi(argv[2]);
    oneWayDelay = std::chrono::microseconds(std::atol(argv[3]) * 1000);
    bytesPerSecond = std::atof(argv[4]) * 1e6 / 8;
    if (argc > 5) {
        for (char *part = std::strtok(argv[5], ","); part; part = std::strtok(nullptr, ","))
            cuts.push_back(std::atoll(part));
    }
    if (argc > 6)
        statsFile = argv[6];

    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(listenPort));
    if (::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listening, 128) != 0) {
        std::perror("wanproxy");
        return 1;
    }
    for (std::size_t connection = 0;; ++connection) {
        const int client = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const long long cutAfter = connection < cuts.size() ? cuts[connection] : 0;
        std::thread(serve, client, targetPort, cutAfter).detach();
    }
}
