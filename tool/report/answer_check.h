// What the dialog does not examine in an answer and a script must: whether
// the frame arrived whole. Checked by the rule the request's checksum is
// built with, over the length byte through the 0x05.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quillon::report {

// Why the complete answer frame (from its 0x01 to its last byte) is damaged,
// or empty when it is whole.
std::string FrameDamage(std::span<const std::uint8_t> frame);

}  // namespace quillon::report
