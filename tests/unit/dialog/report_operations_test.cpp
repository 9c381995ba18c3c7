#include "tool/dialog/report_operations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool/link/fiscal_frame.h"

namespace quillon {
namespace {

using namespace std::string_literals;

ReportRequest RequestOf(const ComposedReport& composed)
{
    const auto* request = std::get_if<ReportRequest>(&composed);
    EXPECT_NE(request, nullptr);
    return request ? *request : ReportRequest{};
}

ReportMessage MessageOf(const ComposedReport& composed)
{
    const auto* message = std::get_if<ReportMessage>(&composed);
    EXPECT_NE(message, nullptr);
    return message ? *message : ReportMessage{};
}

// The list texts, byte for byte, checked against an independent spelling as
// hex so that a lost trailing blank or a Latin/Cyrillic mix-up shows.
std::string FromHex(std::string_view hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

TEST(ReportOperationTable, ListTextsAreExactWindows1251Bytes)
{
    const char* expected[kReportOperationCount] = {
        "cfeeebf3f7e0e2e0ede520ede020e4e0edfaf7ede820f1f2e0e2eae8",
        "c4ede5e2e5ed20f4e8ede0edf1eee220eef2f7e5f220f120edf3ebe8f0e0ede520285a20eef2f7e5f22920",
        "c4ede5e2e5ed20f4e8ede0edf1eee220eef2f7e5f220e820efe5f7e0f220ede020f0e5e3e8f1f2f0e8f2e520",
        "c4ede5e2e5ed20f4e8ede0edf1eee220eef2f7e5f220e1e5e720edf3ebe8f0e0ede52028d520eef2f7e5f229",
        "c4ede5e2e5ed20f4e8ede0edf1eee220eef2f7e5f220e1e5e720edf3ebe8f0e0ede520e820efe5f7e0f220ede020f0e5e32e",
        "cef2f7e5f220eef220d4cf20efee20edeeece5f0",
        "cef2f7e5f220eef220d4cf20efee20e4e0f2e0",
        "5a20eef2f7e5f220f120f0e0e7efe5f7e0f2eae020ede020e0f0f2e8eaf3ebe8f2e5",
        "5820eef2f7e5f220f120f0e0e7efe5f7e0f2eae020ede020e0f0f2e8eaf3ebe8f2e5",
        "caf0e0f2faea20eef2f7e5f220eef220d4cf20efee20e4e0f2e0",
        "caf0e0f2faea20eef2f7e5f220eef220d4cf20efee20edeeece5f0",
    };
    ASSERT_EQ(ReportOperations().size(), 11u);
    for (int i = 0; i < kReportOperationCount; ++i)
        EXPECT_EQ(std::string(ReportOperations()[i].listText), FromHex(expected[i])) << "row " << i;
}

TEST(ReportOperationTable, RangeKindsAndCommandsPerRow)
{
    struct Row { RangeKind kind; int command; };
    const Row rows[kReportOperationCount] = {
        {RangeKind::DateRange, 50}, {RangeKind::NoRange, 69},   {RangeKind::NoRange, 69},
        {RangeKind::NoRange, 69},   {RangeKind::NoRange, 69},   {RangeKind::NumberRange, 73},
        {RangeKind::DateRange, 94}, {RangeKind::NoRange, 108},  {RangeKind::NoRange, 108},
        {RangeKind::DateRange, 79}, {RangeKind::NumberRange, 95},
    };
    for (int i = 0; i < kReportOperationCount; ++i) {
        const ReportOperation* row = FindReportOperation(i);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->rangeKind, rows[i].kind) << "row " << i;
        EXPECT_EQ(row->command, rows[i].command) << "row " << i;
    }
}

TEST(ReportOperationTable, IndicesOutsideTheTableHaveNoRow)
{
    for (int index : {-1, -2147483647 - 1, 11, 12, 1000})
        EXPECT_EQ(FindReportOperation(index), nullptr) << index;
}

TEST(ComposeReportRequest, NoRangeRowsSendTheirDigitWhateverTheFieldsHold)
{
    const std::pair<int, ReportRequest> cases[] = {
        {1, {69, "1"}}, {2, {69, "2"}}, {3, {69, "3"}}, {4, {69, "4"}}, {7, {108, "0"}}, {8, {108, "2"}},
    };
    for (const auto& [index, expected] : cases) {
        EXPECT_EQ(RequestOf(ComposeReportRequest(index, "", "")), expected) << index;
        EXPECT_EQ(RequestOf(ComposeReportRequest(index, "12345", "xyz,")), expected) << index;
    }
}

TEST(ComposeReportRequest, DateRowsJoinTheFieldsWithAComma)
{
    EXPECT_EQ(RequestOf(ComposeReportRequest(0, "020402", "020403")), (ReportRequest{50, "020402,020403"}));
    EXPECT_EQ(RequestOf(ComposeReportRequest(6, "020402", "020403")), (ReportRequest{94, "020402,020403"}));
    EXPECT_EQ(RequestOf(ComposeReportRequest(9, "020402", "020403")), (ReportRequest{79, "020402,020403"}));
    // Contents are not checked, only the length.
    EXPECT_EQ(RequestOf(ComposeReportRequest(0, "999999", "000000")), (ReportRequest{50, "999999,000000"}));
}

TEST(ComposeReportRequest, DateRowsRefuseAnyOtherLengthWithTheDateMessage)
{
    const ReportMessage date = MessageOf(ComposeReportRequest(0, "02040", "020403"));
    EXPECT_EQ(date.caption, "Lorvane Kelmora: Error");
    EXPECT_EQ(date.icon, MessageIcon::Error);
    EXPECT_TRUE(date.text.ends_with(FromHex("2e20cee1f9ee203620f1e8ece2eeebe021")));   // ". Общо 6 символа!"
    EXPECT_NE(date.text.find("\xC4\xC4(\xE4\xE5\xED -2 "), std::string_view::npos);   // "ДД(ден -2 "
    for (int index : {0, 6, 9}) {
        EXPECT_EQ(MessageOf(ComposeReportRequest(index, "0204021", "0204")), date) << index;   // 12 bytes
        EXPECT_EQ(MessageOf(ComposeReportRequest(index, "", "")), date) << index;
        EXPECT_EQ(MessageOf(ComposeReportRequest(index, "020402", "0204031")), date) << index;
    }
}

TEST(ComposeReportRequest, NumberRowsAcceptAnyPairOfEightDigits)
{
    EXPECT_EQ(RequestOf(ComposeReportRequest(5, "0001", "0020")), (ReportRequest{73, "0001,0020"}));
    EXPECT_EQ(RequestOf(ComposeReportRequest(10, "0001", "0020")), (ReportRequest{95, "0001,0020"}));
    for (int firstLength = 0; firstLength <= 8; ++firstLength) {
        const std::string first(static_cast<std::size_t>(firstLength), '1');
        const std::string second(static_cast<std::size_t>(8 - firstLength), '2');
        EXPECT_EQ(RequestOf(ComposeReportRequest(5, first, second)), (ReportRequest{73, first + "," + second}));
    }
}

TEST(ComposeReportRequest, EachNumberRowHasItsOwnMessage)
{
    const ReportMessage first = MessageOf(ComposeReportRequest(5, "1", "20"));
    const ReportMessage second = MessageOf(ComposeReportRequest(10, "1", "20"));
    // Row 5 closes the parenthesis ("нули ) !"), row 10 does not ("нули !").
    EXPECT_TRUE(first.text.ends_with("\xED\xF3\xEB\xE8 ) !"));
    EXPECT_TRUE(second.text.ends_with("\xED\xF3\xEB\xE8 !"));
    EXPECT_EQ(first.text.size(), second.text.size() + 2);
    EXPECT_EQ(first.caption, "Lorvane Kelmora: Error");
    EXPECT_EQ(second.caption, "Lorvane Kelmora: Error");
    EXPECT_EQ(first.icon, MessageIcon::Error);
    EXPECT_EQ(MessageOf(ComposeReportRequest(5, "00001", "00020")), first);   // 11 bytes
    EXPECT_EQ(MessageOf(ComposeReportRequest(10, "0001", "020")), second);    // 8 bytes
}

TEST(ComposeReportRequest, InvalidIndexGivesTheNoOperationMessage)
{
    for (int index : {-1, 11, 255}) {
        const ReportMessage message = MessageOf(ComposeReportRequest(index, "020402", "020403"));
        EXPECT_EQ(message.text, "\xCD\xFF\xEC\xE0 \xF2\xE0\xEA\xE0\xE2\xE0 \xF4\xF3\xED\xEA\xF6\xE8\xFF!");   // "Няма такава функция!"
        EXPECT_EQ(message.caption, "Lorvane Kelmora: Error");
        EXPECT_EQ(message.icon, MessageIcon::Error);
    }
}

TEST(RangeDefaults, DateAndNumberRowsResetTheFieldsNoRangeRowsDoNot)
{
    for (int index : {0, 6, 9}) {
        const RangeDefaults* d = FindRangeDefaults(index);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->firstText, "020402");
        EXPECT_EQ(d->secondText, "020403");
        EXPECT_EQ(d->firstLabel, "\xE4\xE4\xEC\xEC\xE3\xE3");   // "ддммгг"
        EXPECT_EQ(d->secondLabel, "\xE4\xE4\xEC\xEC\xE3\xE3");
    }
    for (int index : {5, 10}) {
        const RangeDefaults* d = FindRangeDefaults(index);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->firstText, "0001");
        EXPECT_EQ(d->secondText, "0020");
        EXPECT_EQ(d->firstLabel, "0001");
        EXPECT_EQ(d->secondLabel, "0002");
    }
    for (int index : {1, 2, 3, 4, 7, 8, -1, 11})
        EXPECT_EQ(FindRangeDefaults(index), nullptr) << index;
}

// Records what SendReport does with the dialog and the message sink.
class FakeDialog : public ReportDialog, public MessageSink {
public:
    bool busy = false;
    int operation = 0;
    std::string first = "020402";
    std::string second = "020403";
    int fieldReads = 0;
    std::vector<ReportRequest> sent;
    std::vector<ReportMessage> shown;

    bool IsBusy() override { return busy; }
    int CurrentOperation() override { return operation; }
    std::string ReadRangeField(RangeField field) override
    {
        ++fieldReads;
        return field == RangeField::First ? first : second;
    }
    void SendRequest(RequestFrame& frame) override
    {
        sent.push_back({static_cast<std::uint8_t>(frame.command),
                        std::string(reinterpret_cast<const char*>(frame.data), static_cast<std::size_t>(frame.dataLength))});
    }
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override
    {
        shown.push_back({text, caption, icon});
    }
    void Ok(RequestFrame& frame) { SendReport(*this, *this, frame); }
};

TEST(SendReport, SendsEveryOperationOnceWithItsBytes)
{
    const std::pair<int, ReportRequest> cases[] = {
        {0, {50, "020402,020403"}}, {1, {69, "1"}}, {2, {69, "2"}}, {3, {69, "3"}}, {4, {69, "4"}},
        {5, {73, "0001,0020"}}, {6, {94, "020402,020403"}}, {7, {108, "0"}}, {8, {108, "2"}},
        {9, {79, "020402,020403"}}, {10, {95, "0001,0020"}},
    };
    RequestFrame frame;
    for (const auto& [index, expected] : cases) {
        FakeDialog dialog;
        dialog.operation = index;
        if (index == 5 || index == 10) {
            dialog.first = "0001";
            dialog.second = "0020";
        }
        dialog.Ok(frame);
        ASSERT_EQ(dialog.sent.size(), 1u) << index;
        EXPECT_EQ(dialog.sent[0], expected) << index;
        EXPECT_TRUE(dialog.shown.empty()) << index;
        EXPECT_EQ(dialog.fieldReads, FindRangeDefaults(index) ? 2 : 0) << index;
        EXPECT_EQ(frame.data, nullptr);   // no pointer to the dead text is kept
    }
}

TEST(SendReport, BusyMessageComesFirstAndNothingIsRead)
{
    RequestFrame frame;
    for (int index : {0, 1, 5, 11, -1}) {
        FakeDialog dialog;
        dialog.busy = true;
        dialog.operation = index;
        dialog.Ok(frame);
        ASSERT_EQ(dialog.shown.size(), 1u);
        EXPECT_EQ(dialog.shown[0], kBusyMessage);
        EXPECT_EQ(dialog.shown[0].caption, "Lorvane Kelmora");
        EXPECT_EQ(dialog.shown[0].icon, MessageIcon::Information);
        EXPECT_TRUE(dialog.sent.empty());
        EXPECT_EQ(dialog.fieldReads, 0);
    }
}

TEST(SendReport, WrongLengthAndInvalidIndexShowTheirMessageAndSendNothing)
{
    RequestFrame frame;
    FakeDialog date;
    date.first = "02040";
    date.Ok(frame);
    EXPECT_TRUE(date.sent.empty());
    ASSERT_EQ(date.shown.size(), 1u);
    EXPECT_EQ(date.shown[0], MessageOf(ComposeReportRequest(0, "", "")));

    FakeDialog invalid;
    invalid.operation = 11;
    invalid.Ok(frame);
    EXPECT_TRUE(invalid.sent.empty());
    EXPECT_EQ(invalid.fieldReads, 0);
    ASSERT_EQ(invalid.shown.size(), 1u);
    EXPECT_EQ(invalid.shown[0], kNoOperationMessage);
}

}  // namespace
}  // namespace quillon
