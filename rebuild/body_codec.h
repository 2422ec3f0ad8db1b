// body_codec.h - the one shape every movie body codec has (zlib for "CWS",
// LZMA for "ZWS"): a state opened from the movie's first bytes, input and
// output cursors advanced by a step function, and a close. Callers drive
// any codec through a table of these records.
#pragma once

#include <cstddef>
#include <cstdint>

// The cursors of one step. The codec reads from `input` and writes to
// `output`, advancing each pointer and lowering each count by what it used.
struct CodecCursors {
    const unsigned char* input;
    size_t inputLeft;
    unsigned char* output;
    size_t outputLeft;
};

enum class StepResult {
    Going,        // call again: more input or more output room may be needed
    Ended,        // the stream ended cleanly, and its check value (if any) matched
    DataError,    // the stream is corrupt where the input cursor stands
    BadChecksum,  // the stream decoded to its end, but its check value is wrong
    OutOfMemory,  // the library could not allocate its state
};

// A decoder of one compressed body. `open` takes the movie's first
// `streamOffset` bytes (the 8-byte header, and for LZMA the 9 bytes of
// sizes and properties after it) and returns the codec's state, or null
// when it cannot be allocated or the properties are invalid (`*invalid`
// then true). `step` never produces more than `outputLeft` bytes; with
// `inputEnds` true it knows no input follows what the cursors hold.
// `close` releases the state; null is ignored.
struct BodyDecoder {
    uint32_t signature;     // the movie signature this codec reads (movie_file.h)
    uint32_t streamOffset;  // where the codec's stream starts in the movie
    void* (*open)(const unsigned char* movieStart, bool* invalid);
    StepResult (*step)(void* state, CodecCursors* cursors, bool inputEnds);
    void (*close)(void* state);
};

// Where a codec's output goes, piece by piece. `write` takes `length`
// bytes (which it must copy or use before returning) and returns false to
// stop the operation: the sink failed, or has all it wanted.
// `room`, when not null, offers memory where the next bytes may be
// produced in place: it returns a pointer to at least one and at most
// `*length` bytes (setting `*length` to what it offers), or null. Bytes
// produced there are then handed to `write` with that same pointer.
struct ByteSink {
    bool (*write)(void* context, const unsigned char* data, size_t length);
    unsigned char* (*room)(void* context, size_t* length);
    void* context;
};
