// info_text_win.cpp - composes the information text from the movie path,
// the add/replace player path and what the reading of the movie found.
#include "app/info_text.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "common/platform.h"
#include "movie/movie_facts.h"
#include "movie/movie_file.h"
#include "movie/player_version.h"
#include "res/resource.h"
#include "app/texts.h"

namespace {

// wsprintfA writes at most 1024 characters and the terminator.
const size_t lineLimit = 1024;
const size_t infoLines = 16;

struct InfoText {
    char text[infoLines * lineLimit + 1];
    size_t length;
};

// String `id` formatted with the arguments that follow, as wvsprintfA
// takes them (unsigned long for %lu, const char* for %s). A string that
// cannot be loaded gives an empty text.
std::string FormatLine(UINT id, va_list arguments)
{
    char* format = LoadResString(id);
    if (!format)
        return "";
    char line[lineLimit + 1];
    int length = wvsprintfA(line, format, arguments);
    MemFree(format);
    return std::string(line, length > 0 ? (size_t)length : 0);
}

void AppendText(InfoText* info, const std::string& text)
{
    if (text.empty() || info->length + text.size() >= sizeof info->text)
        return;
    memcpy(info->text + info->length, text.c_str(), text.size() + 1);
    info->length += text.size();
}

// Appends string `id` formatted with the arguments that follow, on a line
// of its own: the add/replace line ends without a line break, so one is
// put in front of whatever follows it.
void AppendLine(InfoText* info, UINT id, ...)
{
    va_list arguments;
    va_start(arguments, id);
    std::string line = FormatLine(id, arguments);
    va_end(arguments);
    if (info->length != 0 && info->text[info->length - 1] != '\n' && !line.empty())
        AppendText(info, "\r\n");
    AppendText(info, line);
}

void AppendVersionLine(InfoText* info, UINT id, PackedVersion version)
{
    AppendLine(info, id, (unsigned long)VersionMajor(version), (unsigned long)VersionMinor(version));
}

bool IsLinux(PlayerLayout layout)
{
    return layout == PlayerLayout::LinuxI386 || layout == PlayerLayout::LinuxX86_64;
}

// The line of a player's version: `versionLine` with its version, or
// `linuxLine` for a Linux player, which carries none; no line for another
// player without a version, nor for no player.
void AppendPlayerLine(InfoText* info, const char* path, PlayerLayout layout, UINT versionLine,
                      UINT linuxLine)
{
    PackedVersion version = layout != PlayerLayout::None ? PlayerVersionOf(path, layout) : 0;
    if (version != 0)
        AppendVersionLine(info, versionLine, version);
    else if (IsLinux(layout))
        AppendLine(info, linuxLine);
}

struct LayoutLine {
    PlayerLayout layout;
    UINT line;
};
const LayoutLine layoutLines[] = {
    {PlayerLayout::None, IDS_INFO_LAYOUT_BARE},
    {PlayerLayout::Windows, IDS_INFO_LAYOUT_WINDOWS},
    {PlayerLayout::LinuxI386, IDS_INFO_LAYOUT_LINUX_I386},
    {PlayerLayout::LinuxX86_64, IDS_INFO_LAYOUT_LINUX_X86_64},
    {PlayerLayout::MacApp, IDS_INFO_LAYOUT_MAC_APP},
};

struct CompressionLine {
    uint32_t signature;
    UINT line;
};
const CompressionLine compressionLines[] = {
    {signatureUncompressed, IDS_INFO_COMPRESSION_NONE},
    {signatureZlib, IDS_INFO_COMPRESSION_ZLIB},
    {signatureLzma, IDS_INFO_COMPRESSION_LZMA},
};

// The stage, the frames and the ActionScript of a movie that decoded.
void AppendFactsLines(InfoText* info, const MovieFindings& findings)
{
    if (findings.hasStage)
        AppendLine(info, IDS_INFO_STAGE, FormatTwips(findings.stageWidthTwips).c_str(),
                   FormatTwips(findings.stageHeightTwips).c_str());
    if (findings.hasFrames)
        AppendLine(info, IDS_INFO_FRAMES, (unsigned long)findings.frameCount,
                   FormatFrameRate(findings.frameRate).c_str());
    AppendLine(info, findings.actionScript == 2 ? IDS_INFO_ACTIONSCRIPT_3
                                                : IDS_INFO_ACTIONSCRIPT_1_2);
}

void AppendVerdictLine(InfoText* info, const MovieCheck& check)
{
    if (check.health != MovieHealth::Damaged) {
        AppendLine(info, IDS_INFO_INTACT);
        return;
    }
    char* words = DamageWords(check);
    AppendLine(info, IDS_INFO_DAMAGED, words ? words : "");
    MemFree(words);
}

// What the movie is (known from its header at once) and what it holds
// (once the reading of it has ended).
void AppendFindingsLines(InfoText* info, const MovieInfo& movie, const MovieFindings& findings)
{
    for (const LayoutLine& entry : layoutLines) {
        if (entry.layout == movie.layout)
            AppendLine(info, entry.line);
    }
    for (const CompressionLine& entry : compressionLines) {
        if (entry.signature == MovieSignature(movie.header))
            AppendLine(info, entry.line);
    }
    if (findings.state == FindingsState::Reading) {
        AppendLine(info, IDS_INFO_READING);
    } else if (findings.state == FindingsState::Unreadable) {
        AppendLine(info, IDS_INFO_UNREADABLE);
    } else {
        if (findings.check.factsRead)
            AppendFactsLines(info, findings);
        AppendVerdictLine(info, findings.check);
    }
}

std::string SignatureName(uint32_t header)
{
    char name[4] = {(char)(header & 0xFF), (char)(header >> 8 & 0xFF), (char)(header >> 16 & 0xFF), 0};
    return name;
}

}  // namespace

char* DamageWords(const MovieCheck& check)
{
    InfoText words;
    words.text[0] = 0;
    words.length = 0;
    unsigned long declared = check.info.fileLength;
    switch (check.damage) {
    case Damage::None: return nullptr;
    case Damage::DataError:
        AppendLine(&words, IDS_DAMAGE_DATA_ERROR, (unsigned long)check.streamOffset,
                   SignatureName(check.info.header).c_str());
        break;
    case Damage::CutShort:
        AppendLine(&words, IDS_DAMAGE_CUT_SHORT, (unsigned long)check.decodedLength, declared);
        break;
    case Damage::BadChecksum: AppendLine(&words, IDS_DAMAGE_BAD_CHECKSUM); break;
    case Damage::DeclaredTooShort: AppendLine(&words, IDS_DAMAGE_DECLARED_SHORT, declared); break;
    case Damage::BadProperties: AppendLine(&words, IDS_DAMAGE_BAD_PROPERTIES); break;
    }
    char* text = words.length ? (char*)MemAlloc(words.length + 1) : nullptr;
    if (text)
        memcpy(text, words.text, words.length);
    return text;
}

void UpdateInfoText(HWND dialog, const MovieFindings* findings, UINT lastLine)
{
    InfoText info;
    info.text[0] = 0;
    info.length = 0;
    char* moviePath = GetItemText(GetDlgItem(dialog, IDC_MOVIEPATH));
    if (moviePath && moviePath[0]) {
        MovieInfo movie;
        InspectMovie(moviePath, &movie);
        if (movie.movieSize != 0) {
            AppendLine(&info, IDS_INFO_MOVIE_VERSION, (unsigned long)MovieVersion(movie.header));
            AppendVersionLine(&info, IDS_INFO_REQUIRED, RequiredPlayerVersion(movie.header));
        }
        AppendPlayerLine(&info, moviePath, movie.layout, IDS_INFO_CURRENT_PLAYER,
                         IDS_INFO_CURRENT_LINUX);
        if (findings && movie.movieSize != 0)
            AppendFindingsLines(&info, movie, *findings);
    }
    MemFree(moviePath);
    // Read whatever player option is checked: the line tells the user what
    // Add/replace would bring.
    char* playerPath = GetItemText(GetDlgItem(dialog, IDC_PLAYERPATH));
    if (playerPath && playerPath[0]) {
        MovieInfo player;
        InspectMovie(playerPath, &player);
        AppendPlayerLine(&info, playerPath, player.layout, IDS_INFO_NEW_PLAYER, IDS_INFO_NEW_LINUX);
    }
    MemFree(playerPath);
    if (lastLine != 0)
        AppendLine(&info, lastLine);
    SetDlgItemTextA(dialog, IDC_INFO, info.text);
    // The last line tells how the work ended: it is kept in sight.
    if (lastLine != 0)
        SendDlgItemMessageA(dialog, IDC_INFO, EM_LINESCROLL, 0, (LPARAM)infoLines);
}
