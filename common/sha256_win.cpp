// sha256_win.cpp - SHA-256 through Windows' CNG (bcrypt), which every
// supported Windows has.
#include "common/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include "common/bytes.h"
#include "common/platform.h"

struct Sha256 {
    BCRYPT_ALG_HANDLE algorithm;
    BCRYPT_HASH_HANDLE handle;
    bool failed;
};

namespace {
bool Succeeded(NTSTATUS status) { return status >= 0; }
}  // namespace

Sha256* BeginSha256()
{
    Sha256* hash = (Sha256*)MemAlloc(sizeof(Sha256));
    if (!hash)
        return nullptr;
    // The hash object lives in memory CNG allocates itself (a null buffer).
    hash->failed =
        !Succeeded(BCryptOpenAlgorithmProvider(&hash->algorithm, BCRYPT_SHA256_ALGORITHM,
                                               nullptr, 0)) ||
        !Succeeded(BCryptCreateHash(hash->algorithm, &hash->handle, nullptr, 0, nullptr, 0, 0));
    return hash;
}

bool UpdateSha256(Sha256* hash, const void* data, size_t length)
{
    // BCryptHashData takes at most 4 GiB - 1 a call.
    const unsigned char* bytes = (const unsigned char*)data;
    while (!hash->failed && length != 0) {
        ULONG piece = length > 0x40000000 ? 0x40000000 : (ULONG)length;
        hash->failed = !Succeeded(BCryptHashData(hash->handle, (PUCHAR)bytes, piece, 0));
        bytes += piece;
        length -= piece;
    }
    return !hash->failed;
}

bool FinishSha256(Sha256* hash, unsigned char digest[sha256Size])
{
    FillBytes(digest, 0, sha256Size);
    if (!hash)
        return false;
    bool done = !hash->failed &&
                Succeeded(BCryptFinishHash(hash->handle, digest, (ULONG)sha256Size, 0));
    if (!done)
        FillBytes(digest, 0, sha256Size);
    if (hash->handle)
        BCryptDestroyHash(hash->handle);
    if (hash->algorithm)
        BCryptCloseAlgorithmProvider(hash->algorithm, 0);
    MemFree(hash);
    return done;
}
