// fuzz_support.h - what the fuzz targets share: a check that stops the
// run on a broken invariant, and the input as a file for the parsers that
// read paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rebuild/body_codec.h"

// Stops the run (so that libFuzzer keeps the input) when `condition` is false.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : FuzzCheckFailed(__FILE__, __LINE__, #condition))
[[noreturn]] void FuzzCheckFailed(const char* file, int line, const char* condition);

// The path of `name` in a folder of this process's own, made on first
// use and removed with what is in it when the process exits. The text
// lives as long as the process.
const char* ScratchPath(const char* name);

// Writes `size` bytes of `data` as the whole of the file at `path`; stops
// the run when that fails, since nothing can be learnt from such a run.
void WriteScratchFile(const char* path, const uint8_t* data, size_t size);

// The bytes of the file at `path` (MemAlloc; the caller frees them), with
// `*size` their count; null with `*size` 0 when it cannot be read.
unsigned char* ReadScratchFile(const char* path, size_t* size);

struct MovieFacts;
// Whether two walks found the same facts, field by field.
bool SameFacts(const MovieFacts& a, const MovieFacts& b);

// A byte sink that appends what it receives to `bytes`.
ByteSink VectorSink(std::vector<unsigned char>* bytes);
