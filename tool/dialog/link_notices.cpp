#include "tool/dialog/link_notices.h"

#include "tool/dialog/link_texts.h"
#include "tool/link/fiscal_frame.h"

namespace quillon {

Answer AnswerFor(int command)
{
    switch (command) {
    case 44: return {texts::kAnswer44, true};
    case 50: return {texts::kAnswer50, false};
    case 69: return {texts::kAnswer69, false};
    case 73: return {texts::kAnswer73, false};
    case 79: return {texts::kAnswer79, false};
    case 94: return {texts::kAnswer94, false};
    case 95: return {texts::kAnswer95, false};
    case 108: return {texts::kAnswer108, false};
    default: return {texts::kAnswerUnknown, false};
    }
}

std::optional<ReportMessage> NoticeFor(LinkEventKind kind)
{
    const auto error = [](std::string_view text) { return ReportMessage{text, kCaptionError, MessageIcon::Error}; };
    const auto notice = [](std::string_view text) {
        return ReportMessage{text, kCaptionNotice, MessageIcon::Information};
    };
    switch (kind) {
    case LinkEventKind::NoAnswer: return notice(texts::kPrinterNotAnswering);
    case LinkEventKind::PortNotOpened: return notice(texts::kCannotOpenPort);
    case LinkEventKind::Unsolicited: return error(texts::kUnsolicitedResponse);
    case LinkEventKind::TaxRateError: return error(texts::kTaxRateError);
    case LinkEventKind::UnusableLength: return error(texts::kUnusableLength);
    case LinkEventKind::NoMemory: return error(texts::kNoMemory);
    case LinkEventKind::CannotReadState: return error(texts::kCannotReadState);
    case LinkEventKind::CannotSetState: return error(texts::kCannotSetState);
    case LinkEventKind::MakeConectionWithoutLink: return error(texts::kMakeConectionWithoutLink);
    case LinkEventKind::DisconectionWithoutLink: return error(texts::kDisconectionWithoutLink);
    case LinkEventKind::SendRequestWithoutLink: return error(texts::kSendRequestWithoutLink);
    case LinkEventKind::Answered:
    case LinkEventKind::SynExtended:
    case LinkEventKind::Nak:
    case LinkEventKind::ShortLength:
    case LinkEventKind::FrameStalled:
    case LinkEventKind::Echo:
        break;
    }
    return std::nullopt;
}

void DialogLinkEvents::OnLinkEvent(const LinkEvent& event)
{
    if (event.kind == LinkEventKind::Answered) {
        const Answer answer = AnswerFor(event.response->command);
        if (answer.inMessageBox)
            m_sink.ShowMessage(answer.text, kCaptionQuillon, MessageIcon::Information);
        else
            m_field.ShowResponse(answer.text.data());
        return;
    }
    if (const auto notice = NoticeFor(event.kind))
        m_sink.ShowMessage(notice->text, notice->caption, notice->icon);
}

}  // namespace quillon
