// Response frames as the printer sends them, and what it answers per command.
// Portable, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::sim {

struct ResponseLayout {
    static constexpr std::uint8_t kSeparator = 0x04;
    static constexpr std::size_t kMaxData = 84;    // keeps the length byte at most 0x7F
    static constexpr std::size_t kMaxAnswerBytes = 212;   // length byte 0xFF, a 229-byte frame
    static constexpr std::array<std::uint8_t, 6> kStatus = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
    // Gives the tool an expected length below 1, the case that it reports as
    // unusable ("AddChar"); 0x1B to 0x2A would be dropped without a word.
    static constexpr std::uint8_t kBadLengthByte = 0x10;
};

// The commands whose answers differ; every other command is a printed report.
struct PrinterCommand {
    static constexpr std::uint8_t kTaxRates = 50;
    static constexpr std::uint8_t kDailyFinancial = 69;
    static constexpr std::uint8_t kStatus = 74;   // changes nothing; the answer is the status bytes
};

// Damage that a test asks for, applied to every response frame.
struct ResponseFaults {
    bool badLength = false;      // length byte kBadLengthByte: no usable frame length
    bool zeroInFrame = false;    // a 0x00 among the data, counted in the length
    bool wrongCommand = false;   // a command byte that the request did not carry
    bool badChecksum = false;    // checksum characters that do not add up
    bool wrongSequence = false;  // a sequence byte that the request did not carry
    // Exactly this many data bytes, the answer padded with '0' or cut: the one
    // way past kMaxData, up to kMaxAnswerBytes.
    std::optional<std::size_t> answerBytes = std::nullopt;
};

struct Response {
    std::vector<std::uint8_t> bytes;
    std::uint8_t command = 0;     // as sent, after faults
    std::uint8_t sequence = 0;    // as sent, after faults
    std::vector<std::uint8_t> data;   // as sent, after faults
};

using StatusBytes = std::array<std::uint8_t, 6>;

// 0x01, length, sequence, command, data, separator, status, 0x05, checksum
// characters over the length byte through the 0x05, 0x03. Data beyond
// kMaxData is cut off, unless faults.answerBytes sets the size. The one
// builder of response frames: the simulator answers with it and the tests
// feed its frames to the tool's link.
Response BuildResponse(std::uint8_t command, std::uint8_t sequence, std::span<const std::uint8_t> data,
                       const ResponseFaults& faults = {}, const StatusBytes& status = ResponseLayout::kStatus);

// The command byte that --wrong-command answers with: one the tool does not know.
std::uint8_t WrongCommand(std::uint8_t command);

// The sequence byte that --wrong-sequence answers with: the next one, never
// 0x00, which the tool's receiver drops.
std::uint8_t WrongSequence(std::uint8_t sequence);

// Plausible answer data for a command and its request data.
std::string AnswerData(std::uint8_t command, std::span<const std::uint8_t> requestData, bool taxError);

}  // namespace quillon::sim
