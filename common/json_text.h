// Just enough JSON for the console programs' output (quillon-report,
// orbalin-check): strings that stay valid whatever bytes they are given, and
// objects and arrays built in order.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lorvane {

// Length of the valid UTF-8 sequence at the start of text, 0 when it does
// not start with one.
std::size_t Utf8SequenceLength(std::string_view text);

// A JSON string literal. Valid UTF-8 passes as it is; a byte that is not
// part of valid UTF-8 becomes the text \xHH, so the output stays valid JSON.
std::string JsonString(std::string_view text);

// Builds a JSON object field by field, in the order added.
class JsonObject {
public:
    JsonObject& Text(std::string_view name, std::string_view text) { return Raw(name, JsonString(text)); }
    JsonObject& Number(std::string_view name, long long value) { return Raw(name, std::to_string(value)); }
    JsonObject& Null(std::string_view name) { return Raw(name, "null"); }
    JsonObject& Bool(std::string_view name, bool value) { return Raw(name, value ? "true" : "false"); }
    JsonObject& Raw(std::string_view name, std::string_view json);
    std::string Done() const { return (m_text.empty() ? "{" : m_text) + "}"; }

private:
    std::string m_text;
};

// "[a,b,...]" of elements that are JSON already.
class JsonArray {
public:
    JsonArray& Add(std::string_view json);
    std::string Done() const { return (m_text.empty() ? "[" : m_text) + "]"; }

private:
    std::string m_text;
};

}  // namespace lorvane
