// One hand-over to the detector form at a time. Finding the form, writing
// its title and sending the key are three separate steps: a second sender
// between them overwrites the first one's text or finds the form mid-way,
// and lines are lost or delivered twice. Every sender of the logon session
// (threads of this program and other programs that load the server) takes
// this lock around the three steps. Win32 implements it with an in-process
// lock and a named mutex; tests use a fake on their virtual clock.
#pragma once

#include <cstdint>

namespace orbalin {

class HandOverLock {
public:
    virtual ~HandOverLock() = default;

    // Takes the lock, waiting at most limitMs (0: one attempt); false when
    // another sender kept it that long. A sender that died holding it does
    // not keep it.
    virtual bool Acquire(std::uint32_t limitMs) = 0;
    // Only after an Acquire that returned true, on the same thread.
    virtual void Release() = 0;
};

}  // namespace orbalin
