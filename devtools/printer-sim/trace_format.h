// Text of the trace lines, one per frame or control byte in each direction:
//
//   RX <hex> | cmd=<n> seq=0x<hh> data="<text>" checksum=<good|bad>
//   TX <hex> | cmd=<n> seq=0x<hh> data="<text>" checksum=<good|bad>[ fault=<names>]
//   RX BAD <hex> | [cmd=<n> seq=0x<hh> data="<text>" checksum=<good|bad> ]reason=<why>
//   TX NAK 15 | reason=<why>     TX SYN 16     TX NOISE <hex>
//   SOAK request=<i> fault=<name>   (the fault drawn for a request of a soak run)
//   RUN cmd=<n> seq=0x<hh> data="<text>"   (a request that the printer runs)
//   FIRST-TRY fault=<lose|damage|nak|swallow> cmd=<n> seq=0x<hh>
//   TX ECHO <hex>                   (a received frame sent back by the line)
//
// With --baud, each TX line is written when its last byte has gone and ends
// with " first=<t> last=<t>": the Unix times of its first and last byte, in
// seconds with six decimals.
//
// <hex> is the bytes in upper-case pairs separated by blanks; <why> is one of
// length, checksum, end, incomplete, outside-frame, nak-mode, first-try; <names> are
// the faults of the frame joined by commas (damaged last), or from-memory for a
// frame sent again. Data text shows
// printable ASCII as is, with " and \ escaped and other bytes as \xHH. The
// program puts the time "HH:MM:SS.mmm " in front of each line. Tests grep
// these lines, so the format stays as it is.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "devtools/printer-sim/request_parser.h"
#include "devtools/printer-sim/response_builder.h"

namespace quillon::sim {

std::string_view VerdictName(Verdict verdict);

std::string ReceivedLine(const ReceivedFrame& frame);
std::string ResponseLine(const Response& response, std::string_view fault = {});
std::string NakLine(std::string_view reason);
std::string SynLine();
std::string NoiseLine(std::span<const std::uint8_t> bytes);
std::string SoakLine(std::uint64_t index, std::string_view fault);
// Also the line of the ran log.
std::string RunLine(const Request& request);
std::string FirstTryLine(std::string_view fault, const Request& request);
std::string EchoLine(std::span<const std::uint8_t> bytes);
// " first=<s.us> last=<s.us>", from microseconds since the Unix epoch.
std::string WireTimes(std::int64_t firstUs, std::int64_t lastUs);

}  // namespace quillon::sim
