#include "sha256.h"

#include <QIODevice>

#include <openssl/evp.h>

#include <stdexcept>

void Sha256::ContextFree::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context(EVP_MD_CTX_new())
{
    if (!context)
        throw std::bad_alloc();
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    // Fails only without memory; SHA-256 is in every build of libcrypto.
    if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 unavailable");
}

void Sha256::addData(const char *data, std::size_t size)
{
    EVP_DigestUpdate(context.get(), data, size);
}

bool Sha256::addData(QIODevice &device)
{
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device.read(piece.data(), piece.size());
        if (read < 0)
            return false;
        if (read == 0)
            return device.atEnd();
        addData(piece.constData(), std::size_t(read));
    }
}

QByteArray Sha256::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    reset();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}
