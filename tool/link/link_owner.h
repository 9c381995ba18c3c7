// What the serial link needs of the window that owns it: the response timer
// and the output field. Keeps the link free of any dialog code.
#pragma once

namespace quillon {

class LinkOwner {
public:
    virtual ~LinkOwner() = default;
    // Arms the one-shot response timer (500 ms); re-arming restarts it.
    virtual void StartResponseTimer() = 0;
    // Shows an answer text (Windows-1251, NUL-terminated). Called on the
    // receiver thread; must not block it.
    virtual void ShowResponse(const char* text) = 0;
};

}  // namespace quillon
