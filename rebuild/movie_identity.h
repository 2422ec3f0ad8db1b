// movie_identity.h - identities that do not depend on how a movie is
// stored: the SHA-256 of a movie's uncompressed form (the bytes a Save
// that decompresses it and removes its player writes), the same for the
// "FWS", "CWS" and "ZWS" copies of one movie, bare or in any projector;
// and the SHA-256 of a file as stored.
#pragma once

#include "common/byte_source.h"
#include "common/sha256.h"
#include "rebuild/file_facts.h"

// Hashes the uncompressed form of the movie that `source` holds where
// `info` (its inspection) says: "FWS", the version, the declared length,
// then the body cut or padded with zeros to the declared length. The body
// streams through the hash; a compressed movie is held as stored while it
// decodes (as every decode of a file does), the decoded one never. With a
// `reader` the facts of the body are walked in the same pass (begun and
// ended here). No failure, with `digest` set, when the movie decoded;
// otherwise the failure says why, for exactly the reasons
// ReadMovieFileFacts gives, and `digest` is zeros.
Failure ReadMovieIdentity(const ByteSource* source, const MovieInfo& info, FactsReader* reader,
                          unsigned char digest[sha256Size]);

// The same for the file or .app folder at `path`, inspected as `info`
// (InspectMovie): one decode gives the facts and the identity together.
Failure ReadMovieFileIdentity(const char* path, const MovieInfo& info, FactsReader* reader,
                              unsigned char digest[sha256Size]);

// The SHA-256 of the file at `path` as stored. False when it is no file
// (a folder, say), cannot be read to its end, or the hash failed.
bool HashFileBytes(const char* path, unsigned char digest[sha256Size]);
