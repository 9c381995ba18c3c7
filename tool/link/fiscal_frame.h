// Request and response frames of the fiscal printer's serial protocol.
// Portable: no platform headers. Byte layout, checksum and the byte-by-byte
// response assembler live here; the serial port and threads are elsewhere.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillon {

// Control bytes and sizes of the wire format.
struct FiscalFrame {
    static constexpr std::uint8_t kStart = 0x01;
    static constexpr std::uint8_t kEnd = 0x03;
    static constexpr std::uint8_t kPostamble = 0x05;   // ends the counted part of a request
    static constexpr std::uint8_t kStatusSeparator = 0x04;   // before a response's status bytes
    static constexpr std::uint8_t kNak = 0x15;
    static constexpr std::uint8_t kSyn = 0x16;
    static constexpr std::uint8_t kLengthBias = 0x20;
    static constexpr std::uint8_t kSequenceBias = 0x20;
    static constexpr int kRequestOverhead = 10;        // request = n + 10 bytes
    static constexpr int kMaxRequestData = 219;        // length byte holds n + 0x24 in 8 bits
    static constexpr int kResponseOverhead = 17;       // response = n + 17 bytes
    static constexpr int kResponseLengthOffset = 26;   // total length = (int8)L - 26
    static constexpr int kStatusBytes = 6;
    static constexpr int kChecksumChars = 4;
};

// Sum of the bytes modulo 65536, as the request's checksum is formed.
std::uint16_t FrameChecksum(const std::uint8_t* bytes, std::size_t count);

// The four checksum characters, most significant nibble first, each 0x30 + nibble.
std::array<std::uint8_t, 4> ChecksumChars(std::uint16_t checksum);

// One request being prepared; refilled for every send.
struct RequestFrame {
    std::int32_t length = 0;           // n + 4, set by BuildRequestFrame
    std::int32_t sequence = 0;         // set by the sender
    std::int32_t command = 0;          // set by the caller
    const std::uint8_t* data = nullptr;
    std::int32_t dataLength = 0;       // n, 0..kMaxRequestData
    std::array<std::uint8_t, FiscalFrame::kMaxRequestData + FiscalFrame::kRequestOverhead> frame{};

    std::size_t FrameSize() const { return static_cast<std::size_t>(dataLength) + FiscalFrame::kRequestOverhead; }
};

// The byte a sequence number goes on the wire as: 0x20 + it, low 8 bits.
inline std::uint8_t SequenceByte(std::int32_t sequence)
{
    return static_cast<std::uint8_t>(FiscalFrame::kSequenceBias + sequence);
}

// Lays out the request bytes with length, sequence and checksum. Never fails.
bool BuildRequestFrame(RequestFrame& request);

// The response being assembled, one per port link. The SYN flag is also read
// and cleared by the response timer on another thread, hence atomic.
struct ResponseFrame {
    static constexpr std::size_t kBufferSize = 512;

    std::atomic<std::uint8_t> syn{0};
    std::array<std::uint8_t, kBufferSize> raw{};
    std::array<std::uint8_t, kBufferSize> data{};
    std::int32_t count = 0;
    std::int32_t dataLength = 0;
    std::int32_t command = 0;          // sign-extended command byte
    std::int32_t expectedLength = 0;
    std::uint8_t inFrame = 0;
    std::uint8_t complete = 0;
    std::array<std::uint8_t, FiscalFrame::kStatusBytes> status{};
    // The dialog reads the length byte as signed, so its answers end at 0x7F
    // (84 data bytes). The console program reads it unsigned, so that an
    // answer of up to 0xFF (212 data bytes) is not lost. Kept by the reset.
    bool unsignedLength = false;
};

// What an assembly step found wrong with a length byte; the frame is given
// up in both cases.
enum class LengthFault {
    None,
    Unusable,   // the expected length is below 1: the operator is told
    TooShort,   // no room for command, status and trailer
};

// One assembly step for one byte read from the port (zero bytes never get here).
LengthFault AddChar(ResponseFrame& response, std::uint8_t byte);

// Drops the bytes of a frame not yet complete and waits for the next 0x01.
// The SYN flag stays.
void DiscardPartialFrame(ResponseFrame& response);

// Back to waiting: clears count, data length, command and the flags.
void ResetResponseFrame(ResponseFrame& response);

}  // namespace quillon
