#pragma once

#include <QByteArray>

#include <memory>

struct evp_md_ctx_st;
class QIODevice;

// SHA-256 over data given in pieces, by OpenSSL's libcrypto (which libcurl links
// anyway): it uses the processor's SHA instructions where there are any, about
// ten times the speed of a portable implementation, and a game client of
// several gigabytes is hashed while it streams in on the window's thread.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, std::size_t size);
    void addData(const QByteArray &data) { addData(data.constData(), std::size_t(data.size())); }
    // Reads the device to its end; false when reading failed.
    bool addData(QIODevice &device);
    // 64 lower-case hex digits; the hash starts over afterwards.
    QByteArray hexResult();
    void reset();

private:
    struct ContextFree {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> context;
};
