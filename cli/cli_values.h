// cli_values.h - values as info writes them: typed for JSON and CSV, and
// the movie's facts as text (stage sizes, frame rates, colours, tags).
#pragma once

#include <cstdint>
#include <string>

#include "movie/movie_facts.h"

enum class ValueKind { Null, Number, Boolean, Text, Json };

// One value of a key. `text` is the number as written, the text itself
// (UTF-8, possibly invalid), or for Json a JSON value ready to be written.
struct Value {
    ValueKind kind;
    std::string text;
};

inline Value Null() { return {ValueKind::Null, ""}; }
inline Value Number(uint32_t number) { return {ValueKind::Number, std::to_string(number)}; }
inline Value NumberText(const std::string& number) { return {ValueKind::Number, number}; }
inline Value Boolean(bool value) { return {ValueKind::Boolean, value ? "true" : "false"}; }
inline Value Text(const std::string& text) { return {ValueKind::Text, text}; }
inline Value JsonText(const std::string& json) { return {ValueKind::Json, json}; }

// A JSON string of `text` (up to its first NUL): escaped, with bytes that
// are not UTF-8 replaced by U+FFFD so that the document stays valid.
void AppendJsonString(std::string* json, const std::string& text);
void AppendJsonValue(std::string* json, const Value& value);
// One CSV field, after a comma unless `row` is empty: quoted (RFC 4180)
// when it holds a comma, a quote or a line break; null is an empty field.
void AppendCsvField(std::string* row, const Value& value);

// Twips and frame rates as text: FormatTwips and FormatFrameRate of
// movie_facts.h, which the window shares.
// 0xRRGGBB as "#rrggbb".
std::string FormatColour(uint32_t colour);
// The first byte of a FileAttributes tag: as a JSON object of booleans, and
// as the names of the bits set ("as3, use network"; "none").
std::string FileAttributesJson(uint8_t attributes);
std::string FileAttributeNames(uint8_t attributes);
// Tags by code: a JSON object {"1":12,"9":1}, and text "1:12 9:1".
std::string TagCountsJson(const MovieFacts& facts);
std::string TagCountsText(const MovieFacts& facts);
