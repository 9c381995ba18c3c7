// The detector window protocol: the texts the server hands to the detector
// program through window titles, and the waits around each hand-over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/protocol/desktop.h"
#include "server/protocol/hand_over_lock.h"

namespace orbalin {

inline constexpr std::string_view kFormClass = "ThunderForm";
inline constexpr std::string_view kMainFormTitle = "Lorvane Tessaly";
inline constexpr std::string_view kDetectorFormTitle = "Wendrix";
inline constexpr std::string_view kBusyFormTitle = "Busy";
inline constexpr std::string_view kInitialisationText = "1|0|0|0|0|0";
inline constexpr std::string_view kProfileSection = "Orbalin";
inline constexpr std::string_view kProfileKey = "Orbalin";
inline constexpr unsigned kNewTextKey = 255;
inline constexpr int kHighestStatus = 255;

inline constexpr std::uint32_t kMainFormLimitMs = 50'000;
inline constexpr std::uint32_t kDetectorFormLimitMs = 30'000;
inline constexpr std::uint32_t kStartedSignalPauseMs = 2'000;
inline constexpr std::uint32_t kBusyLimitMs = 10'000;
inline constexpr std::uint32_t kCommandDetectorLimitMs = 5'000;
// How long one hand-over message (the title, the key) may wait for the
// detector's window thread. A thread that has stopped would otherwise hold
// the point-of-sale program for good.
inline constexpr std::uint32_t kDetectorAnswerLimitMs = 5'000;
// Pause between two look-ups of one wait. A wait that looks up back to back
// burns a core and starves the very program it is waiting for.
inline constexpr std::uint32_t kLookupPauseMs = 10;

// "Касовия апарат не отговаря на подадените команди! Изпращането на информация е преустановено!"
inline constexpr std::string_view kNotRespondingText =
    "\xCA\xE0\xF1\xEE\xE2\xE8\xFF \xE0\xEF\xE0\xF0\xE0\xF2 \xED\xE5 \xEE\xF2\xE3\xEE\xE2\xE0\xF0\xFF "
    "\xED\xE0 \xEF\xEE\xE4\xE0\xE4\xE5\xED\xE8\xF2\xE5 \xEA\xEE\xEC\xE0\xED\xE4\xE8! "
    "\xC8\xE7\xEF\xF0\xE0\xF9\xE0\xED\xE5\xF2\xEE \xED\xE0 \xE8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xFF "
    "\xE5 \xEF\xF0\xE5\xF3\xF1\xF2\xE0\xED\xEE\xE2\xE5\xED\xEE!";
inline constexpr std::string_view kNotRespondingCaption = "Tessaly";

// One sale line with Code and Name already in 8-bit text.
struct SaleLine {
    std::int32_t deviceNumber = 0;
    std::string code;
    std::string name;
    double quantity = 0.0;
    double price = 0.0;
};

// "%d|%d|%s|%s|%f|%f" of code, device number, code, name, quantity, price,
// with "." as decimal separator whatever the locale. Nothing is escaped.
std::string CommandText(std::int16_t commandCode, const SaleLine& line);
// printf's "%f" in the C locale; infinities as "inf"/"-inf", NaN as "nan".
std::string FixedSixDecimals(double value);
// "FPStatus=n".
std::string StatusTitle(int status);

enum class SendResult { Delivered, DetectorMissing, NotResponding };

// Finds or starts the detector program and hands it the initialisation text.
// The look-up of the detector form and the hand-over run under the lock; the
// wait for the lock counts against the detector form's 30,000 ms, and a lock
// not had in that time ends the call like a form not found.
void InitialiseDetector(Desktop& desktop, HandOverLock& lock);
// Waits out the busy form, then hands the text to the detector form, all
// under the lock. The wait for the lock counts against the busy form's
// 10,000 ms: another sender that keeps the lock so long is as good as a busy
// detector. On NotResponding the message box has been shown, with the lock
// released: either the lock or the busy form stayed (nothing was written) or
// the detector form did not answer a hand-over message within
// kDetectorAnswerLimitMs.
SendResult SendCommandText(Desktop& desktop, HandOverLock& lock, std::string_view commandText);
// The lowest n of the "FPStatus=n" forms, or 0 when there is none.
int ReadStatus(Desktop& desktop);

}  // namespace orbalin
