#include "tool/dialog/report_operations.h"

#include <array>

#include "tool/link/fiscal_frame.h"

namespace quillon {
namespace {

// "Данните в полетата трябва да бъдат във формат ДД(ден -2 символа)ММ(месец -2 символа)ГГ(година -2 символа). Общо 6 символа!"
constexpr std::string_view kDateMessage =
    "\xC4\xE0\xED\xED\xE8\xF2\xE5 \xE2 \xEF\xEE\xEB\xE5\xF2\xE0\xF2\xE0 \xF2\xF0\xFF\xE1\xE2\xE0 \xE4\xE0 "
    "\xE1\xFA\xE4\xE0\xF2 \xE2\xFA\xE2 \xF4\xEE\xF0\xEC\xE0\xF2 \xC4\xC4(\xE4\xE5\xED -2 \xF1\xE8\xEC\xE2\xEE\xEB\xE0)"
    "\xCC\xCC(\xEC\xE5\xF1\xE5\xF6 -2 \xF1\xE8\xEC\xE2\xEE\xEB\xE0)\xC3\xC3(\xE3\xEE\xE4\xE8\xED\xE0 -2 "
    "\xF1\xE8\xEC\xE2\xEE\xEB\xE0). \xCE\xE1\xF9\xEE 6 \xF1\xE8\xEC\xE2\xEE\xEB\xE0!";

// "Данните в полетата трябва да бъдат във 0000 - 4 символа(незначещите символи се заместват с нули ) !"
constexpr std::string_view kFirstNumberMessage =
    "\xC4\xE0\xED\xED\xE8\xF2\xE5 \xE2 \xEF\xEE\xEB\xE5\xF2\xE0\xF2\xE0 \xF2\xF0\xFF\xE1\xE2\xE0 \xE4\xE0 "
    "\xE1\xFA\xE4\xE0\xF2 \xE2\xFA\xE2 0000 - 4 \xF1\xE8\xEC\xE2\xEE\xEB\xE0(\xED\xE5\xE7\xED\xE0\xF7\xE5\xF9\xE8\xF2\xE5 "
    "\xF1\xE8\xEC\xE2\xEE\xEB\xE8 \xF1\xE5 \xE7\xE0\xEC\xE5\xF1\xF2\xE2\xE0\xF2 \xF1 \xED\xF3\xEB\xE8 ) !";

// "Данните в полетата трябва да бъдат във 0000 - 4 символа(незначещите символи се заместват с нули !"
// (row 10's own text: the parenthesis is not closed)
constexpr std::string_view kSecondNumberMessage =
    "\xC4\xE0\xED\xED\xE8\xF2\xE5 \xE2 \xEF\xEE\xEB\xE5\xF2\xE0\xF2\xE0 \xF2\xF0\xFF\xE1\xE2\xE0 \xE4\xE0 "
    "\xE1\xFA\xE4\xE0\xF2 \xE2\xFA\xE2 0000 - 4 \xF1\xE8\xEC\xE2\xEE\xEB\xE0(\xED\xE5\xE7\xED\xE0\xF7\xE5\xF9\xE8\xF2\xE5 "
    "\xF1\xE8\xEC\xE2\xEE\xEB\xE8 \xF1\xE5 \xE7\xE0\xEC\xE5\xF1\xF2\xE2\xE0\xF2 \xF1 \xED\xF3\xEB\xE8 !";

constexpr std::array<ReportOperation, kReportOperationCount> kOperations{{
    // "Получаване на данъчни ставки"
    {"tax-rates",
     "\xCF\xEE\xEB\xF3\xF7\xE0\xE2\xE0\xED\xE5 \xED\xE0 \xE4\xE0\xED\xFA\xF7\xED\xE8 \xF1\xF2\xE0\xE2\xEA\xE8",
     RangeKind::DateRange, 50, {}, kDateMessage},
    // "Дневен финансов отчет с нулиране (Z отчет) " (Latin Z, trailing blank)
    {"z-report",
     "\xC4\xED\xE5\xE2\xE5\xED \xF4\xE8\xED\xE0\xED\xF1\xEE\xE2 \xEE\xF2\xF7\xE5\xF2 \xF1 "
     "\xED\xF3\xEB\xE8\xF0\xE0\xED\xE5 (Z \xEE\xF2\xF7\xE5\xF2) ",
     RangeKind::NoRange, 69, "1", {}},
    // "Дневен финансов отчет и печат на регистрите " (trailing blank)
    {"daily-registers",
     "\xC4\xED\xE5\xE2\xE5\xED \xF4\xE8\xED\xE0\xED\xF1\xEE\xE2 \xEE\xF2\xF7\xE5\xF2 \xE8 "
     "\xEF\xE5\xF7\xE0\xF2 \xED\xE0 \xF0\xE5\xE3\xE8\xF1\xF2\xF0\xE8\xF2\xE5 ",
     RangeKind::NoRange, 69, "2", {}},
    // "Дневен финансов отчет без нулиране (Х отчет)" (Cyrillic Ha)
    {"x-report",
     "\xC4\xED\xE5\xE2\xE5\xED \xF4\xE8\xED\xE0\xED\xF1\xEE\xE2 \xEE\xF2\xF7\xE5\xF2 \xE1\xE5\xE7 "
     "\xED\xF3\xEB\xE8\xF0\xE0\xED\xE5 (\xD5 \xEE\xF2\xF7\xE5\xF2)",
     RangeKind::NoRange, 69, "3", {}},
    // "Дневен финансов отчет без нулиране и печат на рег."
    {"x-report-registers",
     "\xC4\xED\xE5\xE2\xE5\xED \xF4\xE8\xED\xE0\xED\xF1\xEE\xE2 \xEE\xF2\xF7\xE5\xF2 \xE1\xE5\xE7 "
     "\xED\xF3\xEB\xE8\xF0\xE0\xED\xE5 \xE8 \xEF\xE5\xF7\xE0\xF2 \xED\xE0 \xF0\xE5\xE3.",
     RangeKind::NoRange, 69, "4", {}},
    // "Отчет от ФП по номер"
    {"fm-by-number",
     "\xCE\xF2\xF7\xE5\xF2 \xEE\xF2 \xD4\xCF \xEF\xEE \xED\xEE\xEC\xE5\xF0",
     RangeKind::NumberRange, 73, {}, kFirstNumberMessage},
    // "Отчет от ФП по дата"
    {"fm-by-date",
     "\xCE\xF2\xF7\xE5\xF2 \xEE\xF2 \xD4\xCF \xEF\xEE \xE4\xE0\xF2\xE0",
     RangeKind::DateRange, 94, {}, kDateMessage},
    // "Z отчет с разпечатка на артикулите" (Latin Z)
    {"z-report-articles",
     "Z \xEE\xF2\xF7\xE5\xF2 \xF1 \xF0\xE0\xE7\xEF\xE5\xF7\xE0\xF2\xEA\xE0 \xED\xE0 "
     "\xE0\xF0\xF2\xE8\xEA\xF3\xEB\xE8\xF2\xE5",
     RangeKind::NoRange, 108, "0", {}},
    // "X отчет с разпечатка на артикулите" (Latin X)
    {"x-report-articles",
     "X \xEE\xF2\xF7\xE5\xF2 \xF1 \xF0\xE0\xE7\xEF\xE5\xF7\xE0\xF2\xEA\xE0 \xED\xE0 "
     "\xE0\xF0\xF2\xE8\xEA\xF3\xEB\xE8\xF2\xE5",
     RangeKind::NoRange, 108, "2", {}},
    // "Кратък отчет от ФП по дата"
    {"fm-short-by-date",
     "\xCA\xF0\xE0\xF2\xFA\xEA \xEE\xF2\xF7\xE5\xF2 \xEE\xF2 \xD4\xCF \xEF\xEE \xE4\xE0\xF2\xE0",
     RangeKind::DateRange, 79, {}, kDateMessage},
    // "Кратък отчет от ФП по номер"
    {"fm-short-by-number",
     "\xCA\xF0\xE0\xF2\xFA\xEA \xEE\xF2\xF7\xE5\xF2 \xEE\xF2 \xD4\xCF \xEF\xEE \xED\xEE\xEC\xE5\xF0",
     RangeKind::NumberRange, 95, {}, kSecondNumberMessage},
}};

// A date is DDMMYY: six digits, a comma, six digits.
constexpr RangeDefaults kDateDefaults{"020402", "020403",
                                      "\xE4\xE4\xEC\xEC\xE3\xE3",   // "ддммгг"
                                      "\xE4\xE4\xEC\xEC\xE3\xE3", 13};
// Numbers are four digits with leading zeros. The second label reads "0002"
// although the field is set to "0020"; both are as the operators know them.
constexpr RangeDefaults kNumberDefaults{"0001", "0020", "0001", "0002", 9};

constexpr char kRangeSeparator = ',';

}  // namespace

// "Не е получен отговор от принтера на предходната команда. Не е възможно да се изпрати нова."
const ReportMessage kBusyMessage{
    "\xCD\xE5 \xE5 \xEF\xEE\xEB\xF3\xF7\xE5\xED \xEE\xF2\xE3\xEE\xE2\xEE\xF0 \xEE\xF2 \xEF\xF0\xE8\xED\xF2\xE5\xF0\xE0 "
    "\xED\xE0 \xEF\xF0\xE5\xE4\xF5\xEE\xE4\xED\xE0\xF2\xE0 \xEA\xEE\xEC\xE0\xED\xE4\xE0. \xCD\xE5 \xE5 "
    "\xE2\xFA\xE7\xEC\xEE\xE6\xED\xEE \xE4\xE0 \xF1\xE5 \xE8\xE7\xEF\xF0\xE0\xF2\xE8 \xED\xEE\xE2\xE0.",
    kCaptionNotice, MessageIcon::Information};

// "Няма такава функция!"
const ReportMessage kNoOperationMessage{"\xCD\xFF\xEC\xE0 \xF2\xE0\xEA\xE0\xE2\xE0 \xF4\xF3\xED\xEA\xF6\xE8\xFF!",
                                        kCaptionError, MessageIcon::Error};

std::span<const ReportOperation, kReportOperationCount> ReportOperations() { return kOperations; }

const ReportOperation* FindReportOperation(int index)
{
    if (index < 0 || index >= kReportOperationCount)
        return nullptr;
    return &kOperations[static_cast<std::size_t>(index)];
}

const RangeDefaults* FindRangeDefaults(RangeKind kind)
{
    switch (kind) {
    case RangeKind::DateRange:
        return &kDateDefaults;
    case RangeKind::NumberRange:
        return &kNumberDefaults;
    case RangeKind::NoRange:
        break;
    }
    return nullptr;
}

const RangeDefaults* FindRangeDefaults(int index)
{
    const ReportOperation* operation = FindReportOperation(index);
    return operation ? FindRangeDefaults(operation->rangeKind) : nullptr;
}

ComposedReport ComposeReportRequest(int index, std::string_view firstText, std::string_view secondText)
{
    const ReportOperation* operation = FindReportOperation(index);
    if (!operation)
        return kNoOperationMessage;
    const RangeDefaults* range = FindRangeDefaults(operation->rangeKind);
    if (!range)
        return ReportRequest{operation->command, std::string(operation->dataText)};

    std::string data;
    data.reserve(firstText.size() + 1 + secondText.size());
    data.append(firstText).push_back(kRangeSeparator);
    data.append(secondText);
    if (data.size() != range->requiredLength)
        return ReportMessage{operation->wrongLengthMessage, kCaptionError, MessageIcon::Error};
    return ReportRequest{operation->command, std::move(data)};
}

void SendReport(ReportDialog& dialog, MessageSink& sink, RequestFrame& frame)
{
    if (dialog.IsBusy()) {
        sink.ShowMessage(kBusyMessage.text, kBusyMessage.caption, kBusyMessage.icon);
        return;
    }
    const int index = dialog.CurrentOperation();
    std::string first;
    std::string second;
    if (FindRangeDefaults(index)) {
        first = dialog.ReadRangeField(ReportDialog::RangeField::First);
        second = dialog.ReadRangeField(ReportDialog::RangeField::Second);
    }
    const ComposedReport composed = ComposeReportRequest(index, first, second);
    if (const auto* message = std::get_if<ReportMessage>(&composed)) {
        sink.ShowMessage(message->text, message->caption, message->icon);
        return;
    }
    // The data text outlives the call: SendRequest writes the frame before it returns.
    const auto& request = std::get<ReportRequest>(composed);
    frame.command = request.command;
    frame.data = reinterpret_cast<const std::uint8_t*>(request.data.data());
    frame.dataLength = static_cast<std::int32_t>(request.data.size());
    dialog.SendRequest(frame);
    frame.data = nullptr;   // the text dies here; leave no dangling pointer in the record
    frame.dataLength = 0;
}

}  // namespace quillon
