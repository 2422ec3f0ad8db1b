// entry_writes.h - save, extract-player and extract-movie given an entry
// of an archive ("ARCHIVE!/PATH"), and extract-movie given a whole
// archive: each entry is read from the archive's stream as it goes past,
// never unpacked to a file of its own.
#pragma once

#include <set>
#include <string>

#include "cli/write_request.h"

// Whether an input is read through an archive: an entry named
// "ARCHIVE!/PATH", or, for extract-movie, a file that holds no movie and
// no player but an archive.
bool IsArchiveInput(const WriteRequest& request, const std::string& input);

// Writes the output of the entry `input` names (or, for extract-movie
// given an archive, of each of its movie and projector entries) into
// `namedOutput`, or into --out-dir named after the entry's last path
// component. `outputs` are the outputs the run claimed so far, shared with
// its other inputs. Messages go to `request.err` at once.
Outcome WriteArchiveInput(const WriteRequest& request, const std::string& input,
                          const std::string& namedOutput, std::set<std::string>* outputs);
