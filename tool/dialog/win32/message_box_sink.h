// The operator's message boxes: modal, owned by the window that is in the
// foreground at that moment, one OK button. Texts and captions are
// Windows-1251 and converted with code page 1251, so Bulgarian reads right
// whatever the system code page.
#pragma once

#include "tool/dialog/message_sink.h"

namespace quillon {

class MessageBoxSink final : public MessageSink {
public:
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
};

}  // namespace quillon
