// The sequence byte of a run, kept across runs per port. A printer of this
// kind takes a request whose sequence byte repeats the previous request's as
// a request for the lost answer and answers from memory without running the
// command again; so each run goes on from where the last one on the port
// stopped, and tonight's Z report never repeats yesterday's byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::report {

// A file name for the port's state: "port-COM12.seq", "port-dev-ttyUSB0.seq".
std::string SequenceStateFileName(std::string_view canonicalPort);

// The last byte used, from the file's text ("0x2A"); nothing when unreadable.
std::optional<std::uint8_t> ParseSequenceState(std::string_view text);
std::string SequenceStateText(std::uint8_t byte);

// The sequence number of the run after one that used lastByte: the next
// number, passing over the one whose byte is 0x00, as within a connection.
int SequenceAfter(std::uint8_t lastByte);

}  // namespace quillon::report
