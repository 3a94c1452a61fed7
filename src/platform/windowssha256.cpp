// SHA-256 by Windows' own cryptography (CNG), which uses the processor's SHA
// instructions where there are any.

#include "transfer/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <new>
#include <stdexcept>

struct Sha256State {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

BCRYPT_ALG_HANDLE sha256Algorithm()
{
    // Opened once for the whole run: opening is the expensive step.
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            throw std::runtime_error("SHA-256 unavailable");
        return opened;
    }();
    return algorithm;
}

void startOver(Sha256State &state)
{
    if (state.hash)
        BCryptDestroyHash(state.hash);
    state.hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(sha256Algorithm(), &state.hash, nullptr, 0, nullptr, 0, 0)))
        throw std::bad_alloc();
}

} // namespace

void Sha256::StateFree::operator()(Sha256State *state) const
{
    if (state->hash)
        BCryptDestroyHash(state->hash);
    delete state;
}

Sha256::Sha256() : state(new Sha256State)
{
    startOver(*state);
}

Sha256::~Sha256() = default;

void Sha256::addData(const char *data, std::size_t size)
{
    // CNG takes at most 4 GiB - 1 at a time.
    constexpr std::size_t largestPiece = 0xffffffffu;
    while (size > 0) {
        const ULONG piece = ULONG(size > largestPiece ? largestPiece : size);
        BCryptHashData(state->hash, reinterpret_cast<PUCHAR>(const_cast<char *>(data)), piece, 0);
        data += piece;
        size -= piece;
    }
}

Sha256::Digest Sha256::result()
{
    Digest digest;
    BCryptFinishHash(state->hash, digest.data(), ULONG(digest.size()), 0);
    startOver(*state);
    return digest;
}
