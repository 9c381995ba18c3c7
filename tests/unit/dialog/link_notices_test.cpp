#include "tool/dialog/link_notices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool/dialog/link_texts.h"
#include "tool/link/fiscal_frame.h"

namespace quillon {
namespace {

// What the operator sees, in order: field texts and boxes.
struct Shown {
    std::string where;   // "field" or "box"
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Information;
    bool operator==(const Shown&) const = default;
};

class Operator : public AnswerField, public MessageSink {
public:
    void ShowResponse(const char* text) override { shown.push_back({"field", text, {}, {}}); }
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override
    {
        shown.push_back({"box", std::string(text), std::string(caption), icon});
    }
    std::vector<Shown> shown;
};

class DialogLinkEventsTest : public ::testing::Test {
protected:
    void Raise(LinkEventKind kind, int command = 0)
    {
        response.command = command;
        events.OnLinkEvent({kind, &response});
    }

    Operator op;
    DialogLinkEvents events{op, op};
    ResponseFrame response;
};

TEST(AnswerFor, EveryKnownCommandHasItsOwnText)
{
    // Two blanks before the number; 73 ends without a blank, 108 with two.
    const std::string prefix(texts::kAnswer44.substr(0, texts::kAnswer44.size() - 3));
    const struct { int command; const char* tail; } known[] = {
        {50, "50 "}, {69, "69 "}, {73, "73"}, {79, "79 "}, {94, "94 "}, {95, "95 "}, {108, "108  "}};
    EXPECT_EQ(prefix.substr(prefix.size() - 2), "  ");
    for (const auto& k : known) {
        const Answer answer = AnswerFor(k.command);
        EXPECT_FALSE(answer.inMessageBox) << k.command;
        EXPECT_EQ(answer.text, prefix + k.tail) << k.command;
        EXPECT_EQ(answer.text.data()[answer.text.size()], '\0') << "texts are handed on as C strings";
    }
}

TEST_F(DialogLinkEventsTest, AnswersGoToTheFieldExcept44WhichIsAQuillonBox)
{
    Raise(LinkEventKind::Answered, 69);
    Raise(LinkEventKind::Answered, 44);
    Raise(LinkEventKind::Answered, 45);
    Raise(LinkEventKind::Answered, -20);   // a command byte of 0xEC
    EXPECT_EQ(op.shown, (std::vector<Shown>{
                            {"field", std::string(texts::kAnswer69), {}, {}},
                            {"box", std::string(texts::kAnswer44), "Lorvane Quillon", MessageIcon::Information},
                            {"field", std::string(texts::kAnswerUnknown), {}, {}},
                            {"field", std::string(texts::kAnswerUnknown), {}, {}},
                        }));
}

TEST_F(DialogLinkEventsTest, TaxRateErrorFollowsTheOutputText)
{
    Raise(LinkEventKind::Answered, 50);
    Raise(LinkEventKind::TaxRateError, 50);
    EXPECT_EQ(op.shown, (std::vector<Shown>{
                            {"field", std::string(texts::kAnswer50), {}, {}},
                            {"box", std::string(texts::kTaxRateError), "Lorvane Kelmora: Error", MessageIcon::Error},
                        }));
}

TEST_F(DialogLinkEventsTest, EachFailureHasItsBoxAndTheLinesOwnEventsShowNothing)
{
    const struct { LinkEventKind kind; std::string_view text; const char* caption; MessageIcon icon; } boxes[] = {
        {LinkEventKind::NoAnswer, texts::kPrinterNotAnswering, "Lorvane Kelmora", MessageIcon::Information},
        {LinkEventKind::PortNotOpened, texts::kCannotOpenPort, "Lorvane Kelmora", MessageIcon::Information},
        {LinkEventKind::Unsolicited, texts::kUnsolicitedResponse, "Lorvane Kelmora: Error", MessageIcon::Error},
        {LinkEventKind::UnusableLength, "AddChar", "Lorvane Kelmora: Error", MessageIcon::Error},
        {LinkEventKind::NoMemory, texts::kNoMemory, "Lorvane Kelmora: Error", MessageIcon::Error},
        {LinkEventKind::CannotReadState, texts::kCannotReadState, "Lorvane Kelmora: Error", MessageIcon::Error},
        {LinkEventKind::CannotSetState, texts::kCannotSetState, "Lorvane Kelmora: Error", MessageIcon::Error},
        {LinkEventKind::MakeConectionWithoutLink, texts::kMakeConectionWithoutLink, "Lorvane Kelmora: Error",
         MessageIcon::Error},
        {LinkEventKind::DisconectionWithoutLink, texts::kDisconectionWithoutLink, "Lorvane Kelmora: Error",
         MessageIcon::Error},
        {LinkEventKind::SendRequestWithoutLink, texts::kSendRequestWithoutLink, "Lorvane Kelmora: Error",
         MessageIcon::Error},
    };
    for (const auto& b : boxes) {
        op.shown.clear();
        Raise(b.kind);
        EXPECT_EQ(op.shown, (std::vector<Shown>{{"box", std::string(b.text), b.caption, b.icon}}));
    }
    op.shown.clear();
    for (LinkEventKind kind : {LinkEventKind::SynExtended, LinkEventKind::Nak, LinkEventKind::ShortLength,
                               LinkEventKind::FrameStalled})
        Raise(kind);
    EXPECT_TRUE(op.shown.empty());
}

}  // namespace
}  // namespace quillon
