// sha256_posix.cpp - SHA-256 through libcrypto's EVP digest interface.
#include "common/sha256.h"

#include <openssl/evp.h>

#include "common/bytes.h"
#include "common/platform.h"

struct Sha256 {
    EVP_MD_CTX* context;
    bool failed;
};

Sha256* BeginSha256()
{
    Sha256* hash = (Sha256*)MemAlloc(sizeof(Sha256));
    if (!hash)
        return nullptr;
    hash->context = EVP_MD_CTX_new();
    hash->failed =
        !hash->context || EVP_DigestInit_ex(hash->context, EVP_sha256(), nullptr) != 1;
    return hash;
}

bool UpdateSha256(Sha256* hash, const void* data, size_t length)
{
    if (!hash->failed && length != 0)
        hash->failed = EVP_DigestUpdate(hash->context, data, length) != 1;
    return !hash->failed;
}

bool FinishSha256(Sha256* hash, unsigned char digest[sha256Size])
{
    FillBytes(digest, 0, sha256Size);
    if (!hash)
        return false;
    unsigned int length = 0;
    bool done = !hash->failed && EVP_DigestFinal_ex(hash->context, digest, &length) == 1 &&
                length == sha256Size;
    if (!done)
        FillBytes(digest, 0, sha256Size);
    EVP_MD_CTX_free(hash->context);
    MemFree(hash);
    return done;
}
