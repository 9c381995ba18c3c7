// What the dialog shows for each event of the serial link: the answer text
// in the output field, or a message box with its caption and icon. The one
// table of these; quillon-report quotes the same texts by event.
#pragma once

#include <optional>
#include <string_view>

#include "tool/dialog/message_sink.h"
#include "tool/dialog/report_operations.h"
#include "tool/link/link_events.h"

namespace quillon {

// What the operator is told about an answer to command.
struct Answer {
    std::string_view text;   // Windows-1251, NUL-terminated
    bool inMessageBox;       // the answer to 44 is a box captioned "Lorvane Quillon"
};
Answer AnswerFor(int command);

// The box an event shows, if it shows one (answers are AnswerFor's).
std::optional<ReportMessage> NoticeFor(LinkEventKind kind);

// The dialog's output field.
class AnswerField {
public:
    virtual ~AnswerField() = default;
    // Shows an answer text (Windows-1251, NUL-terminated). Called on the
    // receiver thread; must not block it.
    virtual void ShowResponse(const char* text) = 0;
};

// Turns the link's events into the dialog's field and boxes, on the thread
// where each event arises: a box for a response is shown on the receiver
// thread and holds it until it is closed.
class DialogLinkEvents final : public LinkEvents {
public:
    DialogLinkEvents(AnswerField& field, MessageSink& sink) : m_field(field), m_sink(sink) {}
    void OnLinkEvent(const LinkEvent& event) override;

private:
    AnswerField& m_field;
    MessageSink& m_sink;
};

}  // namespace quillon
