#include "devtools/printer-sim/response_builder.h"

#include <algorithm>

#include "tool/link/fiscal_frame.h"

namespace quillon::sim {

namespace {

// The data bytes as sent: at most kMaxData, or exactly faults.answerBytes.
std::vector<std::uint8_t> SentData(std::span<const std::uint8_t> data, const ResponseFaults& faults)
{
    const std::size_t limit = faults.answerBytes ? std::min(*faults.answerBytes, ResponseLayout::kMaxAnswerBytes)
                                                 : ResponseLayout::kMaxData;
    const std::size_t size = faults.answerBytes ? limit : std::min(data.size(), limit);
    const auto kept = data.first(std::min(data.size(), size));
    std::vector<std::uint8_t> sent(kept.begin(), kept.end());
    sent.resize(size, '0');
    if (faults.zeroInFrame) {
        // In full data the zero takes a byte's place, so the length byte stays in range.
        if (!sent.empty() && sent.size() == limit)
            sent.pop_back();
        sent.insert(sent.begin() + static_cast<std::ptrdiff_t>(sent.size() / 2), 0x00);
    }
    return sent;
}

}  // namespace

std::uint8_t WrongCommand(std::uint8_t command)
{
    // Bytes of 0x80 and more are sign-extended by the tool and match no command.
    return command < 0x80 ? static_cast<std::uint8_t>(command | 0x80) : 0x7F;
}

std::uint8_t WrongSequence(std::uint8_t sequence)
{
    const auto next = static_cast<std::uint8_t>(sequence + 1);
    return next == 0x00 ? 0x01 : next;
}

Response BuildResponse(std::uint8_t command, std::uint8_t sequence, std::span<const std::uint8_t> data,
                       const ResponseFaults& faults, const StatusBytes& status)
{
    Response r;
    r.command = faults.wrongCommand ? WrongCommand(command) : command;
    r.sequence = faults.wrongSequence ? WrongSequence(sequence) : sequence;
    r.data = SentData(data, faults);

    const std::size_t n = r.data.size();
    auto& b = r.bytes;
    b.reserve(n + FiscalFrame::kResponseOverhead);
    b.push_back(FiscalFrame::kStart);
    b.push_back(faults.badLength ? ResponseLayout::kBadLengthByte
                                 : static_cast<std::uint8_t>(FiscalFrame::kLengthBias + n + 11));
    b.push_back(r.sequence);
    b.push_back(r.command);
    b.insert(b.end(), r.data.begin(), r.data.end());
    b.push_back(ResponseLayout::kSeparator);
    b.insert(b.end(), status.begin(), status.end());
    b.push_back(FiscalFrame::kPostamble);
    const std::uint16_t checksum = FrameChecksum(b.data() + 1, b.size() - 1);
    // One more still gives four characters of 0x30 to 0x3F, so only the sum check can tell.
    const auto chars = ChecksumChars(faults.badChecksum ? static_cast<std::uint16_t>(checksum + 1) : checksum);
    b.insert(b.end(), chars.begin(), chars.end());
    b.push_back(FiscalFrame::kEnd);
    return r;
}

std::string AnswerData(std::uint8_t command, std::span<const std::uint8_t> requestData, bool taxError)
{
    switch (command) {
    case PrinterCommand::kStatus:
        return {};
    case PrinterCommand::kTaxRates:
        // Rates of the four tax groups valid in the requested period.
        return taxError ? "F" : "A0.00,B20.00,C20.00,D9.00";
    case PrinterCommand::kDailyFinancial: {
        // Report kind, then the day's turnover per tax group.
        const bool digit = !requestData.empty() && requestData[0] >= '0' && requestData[0] <= '9';
        const char kind = digit ? static_cast<char>(requestData[0]) : '0';
        return std::string(1, kind) + ",0.00,123.45,67.80,9.10";
    }
    default:
        // Reports that are printed: the printer only says that it did.
        return "P";
    }
}

}  // namespace quillon::sim
