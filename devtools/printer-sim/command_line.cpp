#include "devtools/printer-sim/command_line.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace quillon::sim {

const char kUsage[] =
    "usage: printer-sim (--link PATH | --device PATH) [options]\n"
    "Stands in for the fiscal printer on a serial line. Answers each valid request\n"
    "once; command 74, the status request, with the six status bytes and no data.\n"
    "  --link PATH        create a pty pair and publish its device as symlink PATH\n"
    "                     (replaced atomically; removed at exit)\n"
    "  --device PATH      use an existing tty instead\n"
    "  --trace FILE       append the trace lines to FILE (default: stdout)\n"
    "  --baud N           send each byte 10/N s after the one before it (default: at once)\n"
    "  --line-speed N     a printer set to N baud: what a client sends while its end of\n"
    "                     the line is set to another speed is garbled and dropped\n"
    "  --delay MS         wait MS milliseconds before each answer\n"
    "  --syn-every MS     send SYN (0x16) every MS milliseconds while an answer waits\n"
    "  --silent           never answer, not even with NAK\n"
    "  --nak              answer every request with NAK (0x15)\n"
    "  --noise            send stray bytes before and after each response\n"
    "  --zero-in-frame    put a 0x00 among the response data\n"
    "  --bad-length       send responses with the unusable length byte 0x10\n"
    "  --wrong-command    answer with a command byte the request did not carry\n"
    "  --wrong-sequence   answer with a sequence byte the request did not carry\n"
    "  --bad-checksum     send responses whose checksum characters do not match\n"
    "  --answer-bytes N   answer with exactly N data bytes, 0 to 212 (212: length byte 0xFF)\n"
    "  --repeat-memory    answer a request with the previous one's sequence byte with\n"
    "                     the previous response, from memory, without running it again;\n"
    "                     the memory outlives clients closing and opening the port\n"
    "  --last-sequence B  start with the memory of an X report (69 \"3\") that carried\n"
    "                     sequence byte B (0x00 to 0xFF, or decimal)\n"
    "  --ran-log FILE     append one line for each request the printer runs, before\n"
    "                     its answer goes out: RUN cmd=<n> seq=0x<hh> data=\"<text>\"\n"
    "                     (answers from memory and requests not taken add none)\n"
    "  --echo             the line hears itself: each frame received goes back at once,\n"
    "                     before the answer\n"
    "  --first-try F      damage the first try of each request only; the same bytes\n"
    "                     again are a retry and taken as usual. F is one of:\n"
    "                       lose     run it, send nothing\n"
    "                       damage   run it, send the answer with a wrong checksum\n"
    "                       nak      send NAK, run nothing (the printer did not take it)\n"
    "                       swallow  run nothing, send nothing (it never arrived)\n"
    "  --first-try-command N  only requests of command N meet --first-try\n"
    "  --unsolicited MS   send an unrequested response every MS milliseconds\n"
    "  --tax-error        answer command 50 with data \"F\"\n"
    "  --longest-answer   answer with 84 data bytes, the most below length byte 0x80\n"
    "  --soak SEED        one fault per request, drawn from SEED: noise, NAK, zero in\n"
    "                     the frame, bad length, wrong command, SYN then the answer,\n"
    "                     a late answer, silence, an unsolicited frame after the answer\n"
    "  --help             show this text\n"
    "Trace lines (each prefixed by HH:MM:SS.mmm):\n"
    "  RX <hex> | cmd=<n> seq=0x<hh> data=\"<text>\" checksum=<good|bad>\n"
    "  TX <hex> | cmd=<n> seq=0x<hh> data=\"<text>\" checksum=<good|bad>[ fault=<names>]\n"
    "  RX BAD <hex> | [decoded fields ]reason=<length|checksum|end|incomplete|outside-frame>\n"
    "  TX NAK 15 | reason=<why>    TX SYN 16    TX NOISE <hex>\n"
    "  SOAK request=<i> fault=<name>    RUN cmd=<n> seq=0x<hh> data=\"<text>\"\n"
    "  FIRST-TRY fault=<lose|damage|nak|swallow> cmd=<n> seq=0x<hh>    TX ECHO <hex>\n"
    "fault= names the damage done, joined by commas (damaged: a first try's answer);\n"
    "fault=from-memory marks a response sent again from memory instead of running\n"
    "the request. A request that runs has a RUN line before its answer.\n"
    "With --baud, TX lines end with \" first=<t> last=<t>\", the Unix times of the\n"
    "first and last byte (seconds, six decimals).\n";

namespace {

constexpr std::int64_t kMaxMs = 3'600'000;
constexpr std::int64_t kMaxBaud = 4'000'000;

bool ParseMs(std::string_view text, std::int64_t& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 && value <= kMaxMs;
}

bool ParseBaud(std::string_view text, std::int64_t& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value > 0 && value <= kMaxBaud;
}

bool ParseAnswerBytes(std::string_view text, std::optional<std::size_t>& count)
{
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()
        || value > ResponseLayout::kMaxAnswerBytes)
        return false;
    count = value;
    return true;
}

// 0xHH or decimal, 0 to 255.
bool ParseByte(std::string_view text, std::optional<std::uint8_t>& byte)
{
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    if (hex)
        text.remove_prefix(2);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, hex ? 16 : 10);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value > 0xFF)
        return false;
    byte = static_cast<std::uint8_t>(value);
    return true;
}

bool ParseSeed(std::string_view text, std::optional<std::uint64_t>& seed)
{
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return false;
    seed = value;
    return true;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(std::span<const std::string_view> args, std::string& error)
{
    CommandLine line;
    auto& p = line.printer;
    struct Flag { std::string_view name; bool* flag; };
    struct Path { std::string_view name; std::string* text; };
    struct Period { std::string_view name; std::int64_t* ms; };
    const Flag flags[] = {
        {"--silent", &p.silent}, {"--nak", &p.nak}, {"--noise", &p.noise},
        {"--zero-in-frame", &p.faults.zeroInFrame}, {"--bad-length", &p.faults.badLength},
        {"--wrong-command", &p.faults.wrongCommand}, {"--tax-error", &p.taxError}, {"--help", &line.help},
        {"--longest-answer", &p.longestAnswer}, {"--bad-checksum", &p.faults.badChecksum},
        {"--wrong-sequence", &p.faults.wrongSequence}, {"--repeat-memory", &p.repeatMemory},
        {"--echo", &p.echo},
    };
    const Path paths[] = {
        {"--link", &line.linkPath}, {"--device", &line.devicePath}, {"--trace", &line.tracePath},
        {"--ran-log", &line.ranLogPath},
    };
    const Period periods[] = {
        {"--delay", &p.delayMs}, {"--syn-every", &p.synEveryMs}, {"--unsolicited", &p.unsolicitedMs},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (const auto f = std::ranges::find(flags, arg, &Flag::name); f != std::end(flags)) {
            *f->flag = true;
            continue;
        }
        const auto t = std::ranges::find(paths, arg, &Path::name);
        const auto m = std::ranges::find(periods, arg, &Period::name);
        constexpr std::string_view kValued[] = {"--baud", "--line-speed", "--soak", "--answer-bytes", "--first-try",
                                                "--first-try-command", "--last-sequence"};
        const bool valued = std::ranges::find(kValued, arg) != std::end(kValued);
        if (t == std::end(paths) && m == std::end(periods) && !valued) {
            error = "unknown option: " + std::string(arg);
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = std::string(arg) + " needs a value";
            return std::nullopt;
        }
        const std::string_view value = args[++i];
        if (arg == "--baud" || arg == "--line-speed") {
            if (!ParseBaud(value, arg == "--baud" ? line.baud : line.lineSpeed)) {
                error = std::string(arg) + " takes a speed from 1 to 4000000";
                return std::nullopt;
            }
        } else if (arg == "--soak") {
            if (!ParseSeed(value, p.soakSeed)) {
                error = "--soak takes a seed, a whole number from 0";
                return std::nullopt;
            }
        } else if (arg == "--answer-bytes") {
            if (!ParseAnswerBytes(value, p.faults.answerBytes)) {
                error = "--answer-bytes takes a count from 0 to 212";
                return std::nullopt;
            }
        } else if (arg == "--first-try") {
            const auto fault = FirstTryFaultNamed(value);
            if (!fault) {
                error = "--first-try takes lose, damage, nak or swallow";
                return std::nullopt;
            }
            p.firstTry = *fault;
        } else if (arg == "--first-try-command" || arg == "--last-sequence") {
            if (!ParseByte(value, arg == "--last-sequence" ? p.lastSequence : p.firstTryCommand)) {
                error = std::string(arg) + " takes a byte, 0x00 to 0xFF or 0 to 255";
                return std::nullopt;
            }
        } else if (t != std::end(paths)) {
            if (value.empty()) {
                error = std::string(arg) + " needs a path";
                return std::nullopt;
            }
            *t->text = value;
        } else if (!ParseMs(value, *m->ms)) {
            error = std::string(arg) + " takes milliseconds from 0 to 3600000";
            return std::nullopt;
        }
    }
    if (line.help)
        return line;
    if (line.linkPath.empty() == line.devicePath.empty()) {
        error = "give exactly one of --link PATH and --device PATH";
        return std::nullopt;
    }
    return line;
}

}  // namespace quillon::sim
