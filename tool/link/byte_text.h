// Text of the bytes on the wire. The printer simulator's trace and
// quillon-report's --trace, --dry-run and answers write them alike, so that
// one program's lines can be set beside the other's.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quillon {

// Two upper-case hex digits: "0A".
std::string HexByte(std::uint8_t b);

// Upper-case byte pairs separated by blanks: "01 AB 3C".
std::string HexBytes(std::span<const std::uint8_t> bytes);

// The text of a byte outside printable ASCII, or empty to show it as \xHH.
using ByteText = std::string (*)(std::uint8_t);

// Printable ASCII as is with " and \ escaped; any other byte as textOf
// gives it, else as \xHH.
std::string DataText(std::span<const std::uint8_t> bytes, ByteText textOf = nullptr);

// "cmd=<n> seq=0x<hh> data="<DataText>"" of a frame.
std::string FrameFields(int command, std::uint8_t sequence, std::span<const std::uint8_t> data,
                        ByteText textOf = nullptr);

}  // namespace quillon
