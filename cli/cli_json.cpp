// cli_json.cpp - the pieces of the one-line JSON objects that info and
// check print for scripts.
#include "cli_internal.h"

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

void AppendNumberOrNull(std::string* json, const char* key, bool present, uint64_t value)
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
