// cli_values.cpp - writing info's values: JSON and CSV text, and the
// movie's facts in the units people read.
#include "cli/cli_values.h"

#include <cstdio>

namespace {

// The names of the bits of a FileAttributes tag's first byte.
const struct {
    uint8_t bit;
    const char* key;   // in JSON
    const char* name;  // in text
} fileAttributeBits[] = {
    {fileAttributeUseNetwork, "use_network", "use network"},
    {fileAttributeActionScript3, "as3", "ActionScript 3"},
    {fileAttributeHasMetadata, "has_metadata", "has metadata"},
    {fileAttributeUseGpu, "use_gpu", "use GPU"},
    {fileAttributeUseDirectBlit, "use_direct_blit", "use direct blit"},
};

// Appends one UTF-8 sequence starting at `text[0]`, or `replacement` for a
// byte that starts no valid sequence, so that the output is always valid
// UTF-8. `text` ends with a NUL. Returns the number of input bytes used.
size_t AppendUtf8Sequence(std::string* out, const unsigned char* text, const char* replacement)
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
        out->append(replacement);
        return 1;
    }
    out->append((const char*)text, length);
    return length;
}

bool NeedsCsvQuotes(const std::string& text)
{
    return text.find_first_of(",\"\r\n") != std::string::npos;
}

}  // namespace

void AppendJsonString(std::string* json, const std::string& utf8)
{
    static const char hexDigits[] = "0123456789abcdef";
    json->push_back('"');
    const unsigned char* text = (const unsigned char*)utf8.c_str();
    while (*text) {
        unsigned char c = *text;
        if (c >= 0x80) {
            text += AppendUtf8Sequence(json, text, "\\ufffd");
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

void AppendJsonValue(std::string* json, const Value& value)
{
    switch (value.kind) {
    case ValueKind::Null: json->append("null"); break;
    case ValueKind::Text: AppendJsonString(json, value.text); break;
    default: json->append(value.text); break;
    }
}

void AppendCsvField(std::string* row, const Value& value)
{
    if (!row->empty())
        row->push_back(',');
    if (value.kind == ValueKind::Null)
        return;
    std::string field;
    const unsigned char* text = (const unsigned char*)value.text.c_str();
    while (*text) {
        if (*text >= 0x80)
            text += AppendUtf8Sequence(&field, text, "\xEF\xBF\xBD");
        else
            field.push_back((char)*text++);
    }
    if (!NeedsCsvQuotes(field)) {
        row->append(field);
        return;
    }
    row->push_back('"');
    for (char c : field) {
        if (c == '"')
            row->push_back('"');
        row->push_back(c);
    }
    row->push_back('"');
}

std::string FormatColour(uint32_t colour)
{
    char text[8];
    snprintf(text, sizeof text, "#%06x", (unsigned)(colour & 0xFFFFFF));
    return text;
}

std::string FileAttributesJson(uint8_t attributes)
{
    std::string json = "{";
    for (const auto& bit : fileAttributeBits) {
        if (json.size() > 1)
            json.push_back(',');
        json += std::string("\"") + bit.key + "\":" + ((attributes & bit.bit) ? "true" : "false");
    }
    return json + "}";
}

std::string FileAttributeNames(uint8_t attributes)
{
    std::string names;
    for (const auto& bit : fileAttributeBits) {
        if (attributes & bit.bit)
            names += (names.empty() ? "" : ", ") + std::string(bit.name);
    }
    return names.empty() ? "none" : names;
}

std::string TagCountsJson(const MovieFacts& facts)
{
    std::string json = "{";
    for (uint32_t code = 0; code < tagCodeCount; code++) {
        if (facts.tagCounts[code] == 0)
            continue;
        if (json.size() > 1)
            json.push_back(',');
        json += "\"" + std::to_string(code) + "\":" + std::to_string(facts.tagCounts[code]);
    }
    return json + "}";
}

std::string TagCountsText(const MovieFacts& facts)
{
    std::string text;
    for (uint32_t code = 0; code < tagCodeCount; code++) {
        if (facts.tagCounts[code] != 0)
            text += (text.empty() ? "" : " ") + std::to_string(code) + ":" +
                    std::to_string(facts.tagCounts[code]);
    }
    return text;
}
