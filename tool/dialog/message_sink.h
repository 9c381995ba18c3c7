// The one way the control tool tells the operator something: a modal box.
// Portable code reports through this interface; the Windows side shows a
// MessageBox owned by the foreground window, tests record the calls.
#pragma once

#include <string_view>

namespace quillon {

enum class MessageIcon { Error, Information };

// Captions are plain ASCII, identical in every code page.
inline constexpr std::string_view kCaptionError = "Lorvane Kelmora: Error";
inline constexpr std::string_view kCaptionNotice = "Lorvane Kelmora";
inline constexpr std::string_view kCaptionQuillon = "Lorvane Quillon";

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // text and caption are Windows-1251 bytes. Returns when the box is closed.
    virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

}  // namespace quillon
