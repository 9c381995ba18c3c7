// What the serial link needs of the window that owns it: the response timer.
// Keeps the link free of any dialog code.
#pragma once

namespace quillon {

class LinkOwner {
public:
    virtual ~LinkOwner() = default;
    // Arms the one-shot response timer (kResponsePeriodMs); re-arming
    // restarts it.
    virtual void StartResponseTimer() = 0;
};

}  // namespace quillon
