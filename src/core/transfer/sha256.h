#pragma once

#include <QByteArray>

#include <array>
#include <memory>

class QIODevice;
struct Sha256State;

// SHA-256 over data given in pieces. A game client of several gigabytes is hashed
// while it streams in on the window's thread, so each system's fastest
// implementation does it, one that uses the processor's SHA instructions where
// there are any: OpenSSL's libcrypto (which libcurl links anyway) elsewhere, the
// system's own (CNG) on Windows.
class Sha256
{
public:
    using Digest = std::array<unsigned char, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, std::size_t size);
    void addData(const QByteArray &data) { addData(data.constData(), std::size_t(data.size())); }
    // Reads the device to its end; false when reading failed.
    bool addData(QIODevice &device);
    // The hash starts over after each of these.
    Digest result();
    QByteArray hexResult(); // 64 lower-case hex digits
    void reset() { result(); }

    // Of one piece of memory, by a hasher kept per thread.
    static Digest of(const char *data, std::size_t size);
    // The same, as 64 lower-case hex digits.
    static QByteArray hexOf(const QByteArray &data);

private:
    struct StateFree {
        void operator()(Sha256State *state) const;
    };
    std::unique_ptr<Sha256State, StateFree> state;
};
