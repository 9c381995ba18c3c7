// Helpers shared by the printer simulator's tests.
#pragma once

#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "printer.h"

namespace quillon::sim::test {

// "01 25 21" -> bytes
inline std::vector<std::uint8_t> Hex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    std::istringstream in(text);
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

inline std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// The worked request examples, all with sequence number 1.
inline const std::string kRequest69 = "01 25 21 45 31 05 30 30 3C 31 03";
inline const std::string kRequest44 = "01 24 21 2C 05 30 30 37 36 03";
inline const std::string kRequest94 = "01 31 21 5E 30 32 30 34 30 32 2C 30 32 30 34 30 33 05 30 33 33 32 03";

// Everything a PrinterSim sends and traces.
class RecordingOutput : public PrinterOutput {
public:
    void Send(std::span<const std::uint8_t> bytes) override { sent.insert(sent.end(), bytes.begin(), bytes.end()); }
    void Trace(const std::string& line) override { traces.push_back(line); }
    void Ran(const Request& request) override { ran.push_back(request); }

    std::vector<std::uint8_t> Take() { return std::exchange(sent, {}); }

    std::vector<std::uint8_t> sent;
    std::vector<std::string> traces;
    std::vector<Request> ran;
};

}  // namespace quillon::sim::test
