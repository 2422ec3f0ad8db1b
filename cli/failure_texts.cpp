// failure_texts.cpp - the one table that turns the core's failure kinds
// into quillaro-cli's words, for each kind of command that meets them.
#include "cli/cli_internal.h"

namespace {

struct FailureWords {
    FailureKind kind;
    bool aboutOutput;          // names the output file rather than the input
    const char* writing;       // save, extract-player, extract-movie
    const char* readingFacts;  // info --facts
    const char* checking;      // check
};

const FailureWords failureWords[] = {
    {FailureKind::NothingToDo, false, "nothing to do", nullptr, nullptr},
    {FailureKind::NoMovie, false, "holds no Flash movie", nullptr, nullptr},
    {FailureKind::NoPlayer, false, "holds no player program", nullptr, nullptr},
    {FailureKind::FolderPlayer, false, "is a .app folder, whose player cannot be written",
     nullptr, nullptr},
    {FailureKind::CutHeader, false, nullptr, "its movie ends inside its 8-byte header", nullptr},
    {FailureKind::CannotDecode, false, nullptr,
     "holds an LZMA-compressed (ZWS) movie, which this version cannot decode", nullptr},
    {FailureKind::ReadFailed, false,
     "could not be read completely (did it change meanwhile, or is the disk failing?)",
     "its movie could not be read whole", "could not be read completely (is the disk failing?)"},
    {FailureKind::DamagedMovie, false,
     "the compressed movie is damaged: its zlib or LZMA stream is corrupt or cut short, or "
     "fails its checksum (\"quillaro-cli check\" tells more; --salvage saves what decodes)",
     "the compressed movie is damaged: its stream is corrupt, cut short or fails its checksum",
     nullptr},
    {FailureKind::OutOfMemory, false, "not enough memory to hold and convert the movie",
     "not enough memory to decode the movie", "not enough memory to check its movie"},
    {FailureKind::ThreadFailed, false,
     "the system refused to start a worker thread (too many programs running?)",
     "the system refused to start a worker thread (too many programs running?)",
     "the system refused to start a worker thread (too many programs running?)"},
    {FailureKind::ConversionFailed, false, "the movie could not be converted", nullptr, nullptr},
    {FailureKind::CreateFailed, true,
     "cannot create a file in its folder (does the folder exist, and may you write there?)",
     nullptr, nullptr},
    {FailureKind::WriteFailed, true,
     "writing it failed (is the disk full?); no existing file was replaced", nullptr, nullptr},
    {FailureKind::OutputExists, true,
     "already exists (made by someone else while it was written); not replaced, use --force to "
     "replace it",
     nullptr, nullptr},
    {FailureKind::NotFlushed, true,
     "was put in place, but its folder could not be flushed to the disk (is the disk failing?); "
     "after a power cut the file it replaced may come back",
     nullptr, nullptr},
};

const char* WordsFor(const FailureWords& words, FailureContext context)
{
    switch (context) {
    case FailureContext::Writing: return words.writing;
    case FailureContext::ReadingFacts: return words.readingFacts;
    case FailureContext::Checking: return words.checking;
    }
    return nullptr;
}
}  // namespace

std::string FailureText(const Failure& failure, FailureContext context, const MovieInfo& input,
                        bool* aboutOutput)
{
    if (aboutOutput)
        *aboutOutput = false;
    // The one text that needs a number from the input.
    if (failure.kind == FailureKind::ShortLength && context == FailureContext::ReadingFacts)
        return "its movie declares a length of " + std::to_string(input.fileLength) +
               " bytes, shorter than its 8-byte header";
    for (const FailureWords& words : failureWords) {
        const char* text = words.kind == failure.kind ? WordsFor(words, context) : nullptr;
        if (!text)
            continue;
        if (aboutOutput)
            *aboutOutput = words.aboutOutput;
        return text;
    }
    return context == FailureContext::ReadingFacts ? "its movie cannot be read"
                                                   : "failed for an unknown reason";
}
