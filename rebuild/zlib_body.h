// zlib_body.h - the body decoder of "CWS" movies: a zlib stream right
// after the 8-byte header, in the shape of body_codec.h.
#pragma once

#include "rebuild/body_codec.h"

void* OpenZlibBody(const unsigned char* movieStart, bool* invalid);
StepResult StepZlibBody(void* state, CodecCursors* cursors, bool inputEnds);
void CloseZlibBody(void* state);
