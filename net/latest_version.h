// latest_version.h - the newest stand-alone player major version, learnt
// once per run from the vendor's latest-version document.
#pragma once

#include <cstdint>

// The lowest major the newest version is ever taken to be.
const uint32_t latestMajorFloor = 25;
// The highest: the player picker lists its entries sorted as text, which
// is their numeric order only while every major has two digits.
const uint32_t latestMajorCeiling = 99;

// The most body bytes HttpGet returns; the rest of a longer body is not
// read. The latest-version document is a few dozen bytes.
const uint32_t httpBodyLimit = 64 * 1024;

// The major version in a latest-version document of `length` bytes: the
// number after its first '"' (spaces and tabs skipped), saturating instead
// of wrapping; 0 when there is none.
uint32_t ParseLatestMajor(const char* document, uint32_t length);

// The newest major that a document names, kept within latestMajorFloor
// and latestMajorCeiling. A null document (no answer) gives the floor.
uint32_t LatestMajorFromDocument(const char* document, uint32_t length);

// The newest player major version, within latestMajorFloor and
// latestMajorCeiling, from the latest-version document at `address` (the
// front end's, from its own resources; null fetches nothing and gives the
// floor). Only the first call of a process touches the network; every
// later call returns the first call's answer, whatever its address.
// Windows only.
uint32_t GetLatestPlayerMajor(const char* address);

// One HTTP(S) GET of `url`. The body, at most httpBodyLimit bytes, as a
// MemAlloc block followed by one zero byte, with `*length` its size
// without that byte; the caller frees it with MemFree. Null when the
// address is not http or https with a host and a path, when the server
// cannot be reached, does not answer within 10 seconds or answers with a
// status other than 200, or when the body cannot be read whole. `*length`
// is 0 unless the result is a body. Windows only; tests link a stand-in.
char* HttpGet(const char* url, uint32_t* length);
