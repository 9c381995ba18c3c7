#pragma once

#include "tool/link/message_sink.h"

#include <string>
#include <vector>

namespace quillon::test {

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageIcon icon;
};

class RecordingSink : public MessageSink {
public:
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override
    {
        shown.push_back({std::string(text), std::string(caption), icon});
    }
    std::vector<ShownMessage> shown;
};

}  // namespace quillon::test
