// latest_version.h - the newest stand-alone player major version, learnt
// once per run from the vendor's latest-version document.
#pragma once

#include <cstdint>

// The lowest major the newest version is ever taken to be.
const uint32_t latestMajorFloor = 25;

// The major version in a latest-version document of `length` bytes: the
// number after its first '"' (spaces and tabs skipped), saturating instead
// of wrapping; 0 when there is none.
uint32_t ParseLatestMajor(const char* document, uint32_t length);

// The newest player major version, at least latestMajorFloor. Only the
// first call of a process touches the network.
uint32_t GetLatestPlayerMajor();

// One HTTP(S) GET of `url`. The body as a MemAlloc block followed by one
// zero byte, with `*length` its size without that byte; null on any
// failure. Windows only. Tests link a stand-in.
char* HttpGet(const char* url, uint32_t* length);
