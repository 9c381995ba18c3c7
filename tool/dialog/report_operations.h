// The eleven report operations of the control tool: names, list texts,
// range rules, the request each one composes, and the OK action. Portable:
// the dialog's controls and the connection are reached through ReportDialog.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "tool/dialog/message_sink.h"

namespace quillon {

struct RequestFrame;

enum class RangeKind { NoRange, DateRange, NumberRange };

// One row of the operation table. Texts are Windows-1251 bytes.
struct ReportOperation {
    std::string_view name;                 // English, for scripts: "z-report", "tax-rates", ...
    std::string_view listText;
    RangeKind rangeKind;
    std::uint8_t command;
    std::string_view dataText;             // NoRange rows: the one data character
    std::string_view wrongLengthMessage;   // range rows: shown for a wrong length
};

inline constexpr int kReportOperationCount = 11;

// Each range field holds at most this many characters, digits only.
inline constexpr std::size_t kRangeFieldLimit = 6;

// All rows, in list order (index = position in the operation list).
std::span<const ReportOperation, kReportOperationCount> ReportOperations();

// The row for an index, or nullptr for anything outside 0..10.
const ReportOperation* FindReportOperation(int index);

// What a range kind puts into the two fields and paints above them.
struct RangeDefaults {
    std::string_view firstText;
    std::string_view secondText;
    std::string_view firstLabel;
    std::string_view secondLabel;
    std::size_t requiredLength;            // of "first,second"
};

// Defaults of a range kind; nullptr for NoRange.
const RangeDefaults* FindRangeDefaults(RangeKind kind);

// Defaults for the operation at index; nullptr for NoRange rows and invalid indices.
const RangeDefaults* FindRangeDefaults(int index);

// A message box to show: text in Windows-1251, caption, icon.
struct ReportMessage {
    std::string_view text;
    std::string_view caption;
    MessageIcon icon;

    friend bool operator==(const ReportMessage&, const ReportMessage&) = default;
};

// What the printer is asked: command byte and data text.
struct ReportRequest {
    std::uint8_t command = 0;
    std::string data;

    friend bool operator==(const ReportRequest&, const ReportRequest&) = default;
};

using ComposedReport = std::variant<ReportRequest, ReportMessage>;

// Composes the request for an operation from the range texts as they stand
// (not trimmed, not padded); only the total length is checked.
ComposedReport ComposeReportRequest(int index, std::string_view firstText, std::string_view secondText);

// Messages of the OK action.
extern const ReportMessage kBusyMessage;
extern const ReportMessage kNoOperationMessage;

// What the OK action needs of the dialog and its current connection.
class ReportDialog {
public:
    enum class RangeField { First, Second };

    virtual ~ReportDialog() = default;
    // The connection's m_busy flag: a request awaits its response.
    virtual bool IsBusy() = 0;
    virtual int CurrentOperation() = 0;
    virtual std::string ReadRangeField(RangeField field) = 0;
    // Hands the filled frame to the connection; it is written before this returns.
    virtual void SendRequest(RequestFrame& frame) = 0;
};

// The OK action: refuses while busy, composes, shows a message or sends once.
// frame is the program's one request record, refilled here.
void SendReport(ReportDialog& dialog, MessageSink& sink, RequestFrame& frame);

}  // namespace quillon
