// SHA-256 by OpenSSL's libcrypto.

#include "transfer/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

struct Sha256State {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
};

namespace {

void startOver(EVP_MD_CTX *context)
{
    // Fails only without memory; SHA-256 is in every build of libcrypto.
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 unavailable");
}

} // namespace

void Sha256::StateFree::operator()(Sha256State *state) const
{
    EVP_MD_CTX_free(state->context);
    delete state;
}

Sha256::Sha256() : state(new Sha256State)
{
    if (!state->context)
        throw std::bad_alloc();
    startOver(state->context);
}

Sha256::~Sha256() = default;

void Sha256::addData(const char *data, std::size_t size)
{
    EVP_DigestUpdate(state->context, data, size);
}

Sha256::Digest Sha256::result()
{
    Digest digest;
    unsigned int length = 0;
    EVP_DigestFinal_ex(state->context, digest.data(), &length);
    startOver(state->context);
    return digest;
}
