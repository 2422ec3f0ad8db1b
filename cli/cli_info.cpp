// cli_info.cpp - "info": what each file is, as text for people or as one
// JSON object per line for scripts.
#include "cli.h"
#include "cli_internal.h"
#include "cli_platform.h"

#include "common/platform.h"

namespace {

// What info reports about one file.
struct FileFacts {
    MovieLocation info;
    FileKind kind;
    PackedVersion required;       // meaningful with a movie
    PackedVersion playerVersion;  // 0 when there is no player or no readable version
};

FileFacts GatherFacts(const std::string& path)
{
    FileFacts facts;
    LocateMovie(path.c_str(), &facts.info);
    facts.kind = KindOf(facts.info);
    facts.required = RequiredPlayerVersion(facts.info.header);
    facts.playerVersion = PlayerVersionOf(path.c_str(), facts.info.layout);
    return facts;
}

bool HasMovie(const FileFacts& facts)
{
    return facts.info.movieSize != 0;
}

const char* SignatureMeaning(uint32_t header)
{
    switch (MovieSignature(header)) {
    case signatureUncompressed: return "uncompressed";
    case signatureZlib: return "zlib-compressed";
    default: return "LZMA-compressed";
    }
}

const char* KindDescription(FileKind kind)
{
    switch (kind) {
    case FileKind::BareMovie: return "bare Flash movie";
    case FileKind::Projector: return "projector (player program with a movie)";
    case FileKind::Player: return "player program without a movie";
    case FileKind::None: break;
    }
    return "neither a Flash movie nor a player program";
}

const char* UnknownVersionReason(PlayerLayout layout)
{
    switch (layout) {
    case PlayerLayout::LinuxI386:
    case PlayerLayout::LinuxX86_64: return "unknown (Linux players carry no version)";
    case PlayerLayout::MacApp: return "unknown (no version in Contents/Info.plist)";
    default: return "unknown (no version resource)";
    }
}

void PrintText(FILE* out, const std::string& path, const FileFacts& facts)
{
    fprintf(out, "%s: %s\n", path.c_str(), KindDescription(facts.kind));
    const MovieLocation& info = facts.info;
    if (info.layout != PlayerLayout::None)
        fprintf(out, "  layout             %s\n", PlayerLayoutName(info.layout));
    if (HasMovie(facts)) {
        fprintf(out, "  signature          %s (%s)\n", SignatureText(info.header).c_str(),
                SignatureMeaning(info.header));
        fprintf(out, "  movie version      %u\n", (unsigned)MovieVersion(info.header));
        fprintf(out, "  declared length    %lu bytes\n", (unsigned long)info.fileLength);
        fprintf(out, "  stored movie size  %lu bytes\n", (unsigned long)info.movieSize);
    }
    if (info.playerSize != 0)
        fprintf(out, "  player size        %lu bytes\n", (unsigned long)info.playerSize);
    if (HasMovie(facts))
        fprintf(out, "  required player    %s\n", FormatVersion(facts.required).c_str());
    if (info.layout != PlayerLayout::None) {
        fprintf(out, "  player version     %s\n",
                facts.playerVersion ? FormatVersion(facts.playerVersion).c_str()
                                    : UnknownVersionReason(info.layout));
    }
}

}  // namespace

// Appends one UTF-8 sequence starting at `text[0]`, or U+FFFD for a byte
// that starts no valid sequence, so that the output is always valid JSON.
// Returns the number of input bytes used.
static size_t AppendUtf8Sequence(std::string* json, const unsigned char* text)
{
    unsigned char lead = text[0];
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    }
    // A NUL ends the text and is no continuation byte, so this stops there.
    for (size_t i = 1; i < length; i++) {
        if ((text[i] & 0xC0) != 0x80) {
            length = 0;
            break;
        }
        code = code << 6 | (text[i] & 0x3F);
    }
    bool valid = length == 2 ||
                 (length == 3 && code >= 0x800 && (code < 0xD800 || code > 0xDFFF)) ||
                 (length == 4 && code >= 0x10000 && code <= 0x10FFFF);
    if (!valid) {
        json->append("\\ufffd");
        return 1;
    }
    json->append((const char*)text, length);
    return length;
}

void AppendJsonString(std::string* json, const char* utf8)
{
    static const char hexDigits[] = "0123456789abcdef";
    json->push_back('"');
    const unsigned char* text = (const unsigned char*)utf8;
    while (*text) {
        unsigned char c = *text;
        if (c >= 0x80) {
            text += AppendUtf8Sequence(json, text);
            continue;
        }
        if (c == '"' || c == '\\') {
            json->push_back('\\');
            json->push_back((char)c);
        } else if (c < 0x20) {
            json->append("\\u00");
            json->push_back(hexDigits[c >> 4]);
            json->push_back(hexDigits[c & 15]);
        } else {
            json->push_back((char)c);
        }
        text++;
    }
    json->push_back('"');
}

void AppendKey(std::string* json, const char* key)
{
    if (json->size() > 1)
        json->push_back(',');
    json->push_back('"');
    json->append(key);
    json->append("\":");
}

void AppendNumberOrNull(std::string* json, const char* key, bool present, uint32_t value)
{
    AppendKey(json, key);
    json->append(present ? std::to_string(value) : "null");
}

void AppendTextOrNull(std::string* json, const char* key, bool present, const std::string& value)
{
    AppendKey(json, key);
    if (present)
        AppendJsonString(json, value.c_str());
    else
        json->append("null");
}

namespace {

// The keys, their order and their types are a promise to scripts: see the
// README's "Command line" section before changing anything here.
bool PrintJson(FILE* out, const std::string& path, const FileFacts& facts)
{
    char* name = NativeTextToUtf8(path.c_str());
    if (!name)
        return false;
    const MovieLocation& info = facts.info;
    bool movie = HasMovie(facts);
    std::string json = "{";
    AppendKey(&json, "file");
    AppendJsonString(&json, name);
    MemFree(name);
    AppendTextOrNull(&json, "kind", true, KindName(facts.kind));
    AppendTextOrNull(&json, "signature", movie, SignatureText(info.header));
    AppendNumberOrNull(&json, "version", movie, MovieVersion(info.header));
    AppendNumberOrNull(&json, "declared_length", movie, info.fileLength);
    AppendNumberOrNull(&json, "movie_size", true, info.movieSize);
    AppendNumberOrNull(&json, "player_size", true, info.playerSize);
    AppendTextOrNull(&json, "required_player_version", movie, FormatVersion(facts.required));
    AppendTextOrNull(&json, "player_version", facts.playerVersion != 0,
                     FormatVersion(facts.playerVersion));
    const char* layout = PlayerLayoutName(info.layout);
    AppendTextOrNull(&json, "layout", layout != nullptr, layout ? layout : "");
    json.append("}\n");
    fputs(json.c_str(), out);
    return true;
}

}  // namespace

int RunInfo(const Arguments& arguments, FILE* out, FILE* err)
{
    if (arguments.files.empty())
        return ReportUsageError(err, arguments.command, "no file given");
    bool allDone = true;
    bool first = true;
    for (const std::string& path : arguments.files) {
        if (!CheckInputFile(err, path)) {
            allDone = false;
            continue;
        }
        FileFacts facts = GatherFacts(path);
        if (arguments.json) {
            if (!PrintJson(out, path, facts)) {
                ReportFileError(err, path, "not enough memory to describe it");
                allDone = false;
            }
        } else {
            if (!first)
                fputc('\n', out);
            PrintText(out, path, facts);
            first = false;
        }
        // Keeps the results and the error lines in the order of the files.
        fflush(out);
    }
    return allDone ? exitDone : exitFailed;
}
