// A scripted desktop on a virtual clock: forms appear and vanish at given
// milliseconds, Pause advances the clock, and every call is recorded. Its
// handOver lock runs on the same clock and can be held by a peer for a while.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/ascii_case.h"
#include "server/protocol/desktop.h"
#include "server/protocol/hand_over_lock.h"

namespace orbalin::testing {

class FakeDesktop final : public Desktop {
public:
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

    class Lock final : public HandOverLock {
    public:
        explicit Lock(FakeDesktop& desktop) : m_desktop(desktop) {}
        // Another sender holds the lock until that millisecond.
        void HeldByPeerUntil(std::uint64_t until) { m_peerUntil = until; }
        bool Acquire(std::uint32_t limitMs) override
        {
            std::uint64_t& now = m_desktop.m_now;
            acquireLimits.push_back(limitMs);
            if (held)
                throw std::logic_error("hand-over lock taken twice");
            if (now < m_peerUntil) {
                const bool gets = now + limitMs >= m_peerUntil;
                now = gets ? m_peerUntil : now + limitMs;
                if (!gets)
                    return false;
            }
            held = true;
            return true;
        }
        void Release() override
        {
            if (!held)
                throw std::logic_error("hand-over lock released without being held");
            held = false;
        }

        bool held = false;
        std::vector<std::uint32_t> acquireLimits;

    private:
        FakeDesktop& m_desktop;
        std::uint64_t m_peerUntil = 0;
    };

    struct Form {
        std::string className;
        std::string title;
        std::uint64_t from = 0;
        std::uint64_t until = kNever;
    };
    struct Lookup {
        std::uint64_t at;
        std::string title;
    };
    struct Stamped {
        std::uint64_t at;
        std::string text;
    };

    // Adds a "ThunderForm" window present from `from` up to (not including) `until`.
    void AddForm(std::string title, std::uint64_t from = 0, std::uint64_t until = kNever)
    {
        m_forms.push_back({"ThunderForm", std::move(title), from, until});
    }
    void AddFormOfClass(std::string className, std::string title)
    {
        m_forms.push_back({std::move(className), std::move(title), 0, kNever});
    }
    void SetProfileValue(std::string value) { m_profile = std::move(value); }
    // From then on the forms' thread answers no message: title changes and
    // key-downs report that the limit passed, and change nothing.
    void HangFromTitle(std::size_t hungAfterTitles) { m_answeredTitles = hungAfterTitles; }
    void HangAtKeyDown() { m_keyHangs = true; }

    WindowId FindTopLevel(std::string_view className, std::string_view title) override
    {
        if (outOfMemory)
            throw std::bad_alloc();
        lookups.push_back({m_now, std::string(title)});
        for (std::size_t i = 0; i < m_forms.size(); ++i) {
            const Form& form = m_forms[i];
            if (m_now >= form.from && m_now < form.until && form.className == className &&
                lorvane::EqualsNoCase(form.title, title))
                return i + 1;
        }
        return kNoWindow;
    }
    bool SetTitle(WindowId window, std::string_view text, std::uint32_t limitMs) override
    {
        answerLimits.push_back(limitMs);
        if (titles.size() >= m_answeredTitles) {
            unanswered.push_back({m_now, "title " + std::string(text)});
            m_now += limitMs;
            return false;
        }
        titles.push_back({m_now, std::string(text)});
        unlockedHandOvers += handOver.held ? 0 : 1;
        m_forms.at(window - 1).title = std::string(text);
        return true;
    }
    bool SendKeyDown(WindowId window, unsigned virtualKey, std::uint32_t limitMs) override
    {
        answerLimits.push_back(limitMs);
        const std::string text = m_forms.at(window - 1).title + " key " + std::to_string(virtualKey);
        if (m_keyHangs) {
            unanswered.push_back({m_now, text});
            m_now += limitMs;
            return false;
        }
        keyDowns.push_back({m_now, text});
        unlockedHandOvers += handOver.held ? 0 : 1;
        return true;
    }
    void Open(std::string_view path) override { opened.push_back({m_now, std::string(path)}); }
    std::string ReadProfileString(std::string_view section, std::string_view key) override
    {
        profileReads.push_back({m_now, std::string(section) + "/" + std::string(key)});
        return m_profile;
    }
    std::uint64_t Now() override { return m_now; }
    void Pause(std::uint32_t milliseconds) override
    {
        pauses.push_back({m_now, std::to_string(milliseconds)});
        m_now += milliseconds;
    }
    void ShowMessage(std::string_view text1251, std::string_view caption) override
    {
        messages.push_back({m_now, std::string(caption) + ": " + std::string(text1251)});
        lockedMessages += handOver.held ? 1 : 0;
    }

    std::size_t LookupsOf(std::string_view title) const
    {
        return static_cast<std::size_t>(
            std::count_if(lookups.begin(), lookups.end(), [&](const Lookup& l) { return l.title == title; }));
    }
    // The largest number of look-ups of one title made at one virtual
    // millisecond: more than one means a wait looked up without pausing.
    std::size_t MostLookupsAtOneInstant() const
    {
        std::size_t most = 0;
        for (std::size_t i = 0; i < lookups.size();) {
            std::size_t j = i;
            while (j < lookups.size() && lookups[j].at == lookups[i].at && lookups[j].title == lookups[i].title)
                ++j;
            most = std::max(most, j - i);
            i = j;
        }
        return most;
    }
    std::uint64_t now() const { return m_now; }

    std::vector<Lookup> lookups;
    std::vector<Stamped> titles;
    std::vector<Stamped> keyDowns;
    std::vector<Stamped> opened;
    std::vector<Stamped> profileReads;
    std::vector<Stamped> pauses;
    std::vector<Stamped> messages;
    std::vector<Stamped> unanswered;   // hand-over messages the hung forms did not take
    std::vector<std::uint32_t> answerLimits;
    bool outOfMemory = false;   // look-ups throw std::bad_alloc
    Lock handOver{*this};
    std::size_t unlockedHandOvers = 0;   // titles and keys sent without the lock
    std::size_t lockedMessages = 0;      // message boxes shown while holding it

private:
    std::vector<Form> m_forms;
    std::string m_profile;
    std::size_t m_answeredTitles = std::numeric_limits<std::size_t>::max();
    bool m_keyHangs = false;
    std::uint64_t m_now = 0;
};

}  // namespace orbalin::testing
