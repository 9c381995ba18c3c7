// The dialog's texts for what the serial link reports, as Windows-1251
// bytes (link_notices.cpp says which event shows which). Each text lives
// here once; the readable Bulgarian is in the comment beside it.
#pragma once

#include <string_view>

namespace quillon::texts {

// The receiver's word for a response whose length byte is unusable (ASCII).
inline constexpr std::string_view kUnusableLength = "AddChar";

// "Няма свободна памет!"
inline constexpr std::string_view kNoMemory = "\xCD\xFF\xEC\xE0 \xF1\xE2\xEE\xE1\xEE\xE4\xED\xE0 \xEF\xE0\xEC\xE5\xF2!";

// "Функция CCommunication::MakeConection не инициализирана променлива m_m_conection"
inline constexpr std::string_view kMakeConectionWithoutLink =
    "\xD4\xF3\xED\xEA\xF6\xE8\xFF CCommunication::MakeConection \xED\xE5 "
    "\xE8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE8\xF0\xE0\xED\xE0 \xEF\xF0\xEE\xEC\xE5\xED\xEB\xE8\xE2\xE0 m_m_conection";

// "Функция CCommunication::Disconection ne инициализирана променлива m_m_conection"
// (the "ne" is in Latin letters)
inline constexpr std::string_view kDisconectionWithoutLink =
    "\xD4\xF3\xED\xEA\xF6\xE8\xFF CCommunication::Disconection ne "
    "\xE8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE8\xF0\xE0\xED\xE0 \xEF\xF0\xEE\xEC\xE5\xED\xEB\xE8\xE2\xE0 m_m_conection";

// "Функция CCommunication::SendRequest не инициализирана променлива m_m_conection"
inline constexpr std::string_view kSendRequestWithoutLink =
    "\xD4\xF3\xED\xEA\xF6\xE8\xFF CCommunication::SendRequest \xED\xE5 "
    "\xE8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE8\xF0\xE0\xED\xE0 \xEF\xF0\xEE\xEC\xE5\xED\xEB\xE8\xE2\xE0 m_m_conection";

// "Не е възможно да се отвори COM" (names no port)
inline constexpr std::string_view kCannotOpenPort =
    "\xCD\xE5 \xE5 \xE2\xFA\xE7\xEC\xEE\xE6\xED\xEE \xE4\xE0 \xF1\xE5 \xEE\xF2\xE2\xEE\xF0\xE8 COM";

// " :Проблем с вземане на състоянието"
inline constexpr std::string_view kCannotReadState =
    " :\xCF\xF0\xEE\xE1\xEB\xE5\xEC \xF1 \xE2\xE7\xE5\xEC\xE0\xED\xE5 \xED\xE0 \xF1\xFA\xF1\xF2\xEE\xFF\xED\xE8\xE5\xF2\xEE";

// " :Проблем с установяване на състоянието"
inline constexpr std::string_view kCannotSetState =
    " :\xCF\xF0\xEE\xE1\xEB\xE5\xEC \xF1 \xF3\xF1\xF2\xE0\xED\xEE\xE2\xFF\xE2\xE0\xED\xE5 \xED\xE0 "
    "\xF1\xFA\xF1\xF2\xEE\xFF\xED\xE8\xE5\xF2\xEE";

// "Принтерът не отговаря!"
inline constexpr std::string_view kPrinterNotAnswering =
    "\xCF\xF0\xE8\xED\xF2\xE5\xF0\xFA\xF2 \xED\xE5 \xEE\xF2\xE3\xEE\xE2\xE0\xF0\xFF!";

// "Принтера изпраща съобщемия без да е получил някаква команда!"
inline constexpr std::string_view kUnsolicitedResponse =
    "\xCF\xF0\xE8\xED\xF2\xE5\xF0\xE0 \xE8\xE7\xEF\xF0\xE0\xF9\xE0 \xF1\xFA\xEE\xE1\xF9\xE5\xEC\xE8\xFF "
    "\xE1\xE5\xE7 \xE4\xE0 \xE5 \xEF\xEE\xEB\xF3\xF7\xE8\xEB \xED\xFF\xEA\xE0\xEA\xE2\xE0 "
    "\xEA\xEE\xEC\xE0\xED\xE4\xE0!";

// "Грешка или не е намерена данъчна ставка за периода"
inline constexpr std::string_view kTaxRateError =
    "\xC3\xF0\xE5\xF8\xEA\xE0 \xE8\xEB\xE8 \xED\xE5 \xE5 \xED\xE0\xEC\xE5\xF0\xE5\xED\xE0 "
    "\xE4\xE0\xED\xFA\xF7\xED\xE0 \xF1\xF2\xE0\xE2\xEA\xE0 \xE7\xE0 \xEF\xE5\xF0\xE8\xEE\xE4\xE0";

// Answer texts: "Отговор на команда  NN " with two blanks before the number.
// The text for 73 has no trailing blank, the one for 108 has two.
#define QUILLON_ANSWER_PREFIX "\xCE\xF2\xE3\xEE\xE2\xEE\xF0 \xED\xE0 \xEA\xEE\xEC\xE0\xED\xE4\xE0  "
inline constexpr std::string_view kAnswer44 = QUILLON_ANSWER_PREFIX "44 ";
inline constexpr std::string_view kAnswer50 = QUILLON_ANSWER_PREFIX "50 ";
inline constexpr std::string_view kAnswer69 = QUILLON_ANSWER_PREFIX "69 ";
inline constexpr std::string_view kAnswer73 = QUILLON_ANSWER_PREFIX "73";
inline constexpr std::string_view kAnswer79 = QUILLON_ANSWER_PREFIX "79 ";
inline constexpr std::string_view kAnswer94 = QUILLON_ANSWER_PREFIX "94 ";
inline constexpr std::string_view kAnswer95 = QUILLON_ANSWER_PREFIX "95 ";
inline constexpr std::string_view kAnswer108 = QUILLON_ANSWER_PREFIX "108  ";
#undef QUILLON_ANSWER_PREFIX

// "Отговор на несъществуваща  команда "
inline constexpr std::string_view kAnswerUnknown =
    "\xCE\xF2\xE3\xEE\xE2\xEE\xF0 \xED\xE0 \xED\xE5\xF1\xFA\xF9\xE5\xF1\xF2\xE2\xF3\xE2\xE0\xF9\xE0  "
    "\xEA\xEE\xEC\xE0\xED\xE4\xE0 ";

}  // namespace quillon::texts
