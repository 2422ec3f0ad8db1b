// sha256.h - SHA-256 of bytes that arrive in pieces, from the system's own
// cryptography: OpenSSL's libcrypto (sha256_posix.cpp) or Windows' CNG
// (sha256_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

const size_t sha256Size = 32;
// The digest as lowercase hex digits, with a terminating zero.
const size_t sha256HexSize = 2 * sha256Size + 1;

struct Sha256;  // one hash in progress

// A new hash, or null when the library cannot make one.
Sha256* BeginSha256();
// Hashes `length` more bytes; false when the library failed (the hash is
// then of no use, but must still be ended).
bool UpdateSha256(Sha256* hash, const void* data, size_t length);
// Writes the digest of everything hashed to `digest` and releases the
// hash; false (the digest zeroed) when any step failed. A null hash gives
// false.
bool FinishSha256(Sha256* hash, unsigned char digest[sha256Size]);

// `digest` in lowercase hex into `text`.
inline void FormatSha256Hex(const unsigned char digest[sha256Size], char text[sha256HexSize])
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < sha256Size; i++) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 15];
    }
    text[2 * sha256Size] = 0;
}
