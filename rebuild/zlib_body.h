// zlib_body.h - the body decoder of "CWS" movies: a zlib stream right
// after the 8-byte header, in the shape of body_codec.h.
//
// When the first step is given the whole stream (`inputEnds`) and the
// header declares a body of at most wholeBodyLimit bytes, the stream is
// inflated whole by libdeflate and the steps hand out that body, counting
// the input as consumed in proportion to it. Any other outcome (damage, a
// stream that yields more than the declared body, no memory) starts over
// with zlib's inflate, step by step, which tells exactly where and how the
// stream went wrong; so does every decode given its input in parts.
#pragma once

#include "rebuild/body_codec.h"

void* OpenZlibBody(const unsigned char* movieStart, bool* invalid);
StepResult StepZlibBody(void* state, CodecCursors* cursors, bool inputEnds);
void CloseZlibBody(void* state);
