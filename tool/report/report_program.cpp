#include "tool/report/report_program.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <variant>

#include "common/version.h"
#include "tool/dialog/link_notices.h"
#include "tool/link/link_settings.h"
#include "tool/link/request_tracker.h"
#include "tool/report/answer_check.h"
#include "tool/report/command_line.h"
#include "common/json_text.h"
#include "tool/report/operation_names.h"
#include "tool/report/range_check.h"
#include "tool/report/run_log.h"
#include "tool/report/utf8_text.h"
#include "tool/report/wire_text.h"

namespace quillon::report {

using lorvane::JsonArray;
using lorvane::JsonObject;
using lorvane::JsonString;
namespace {

constexpr std::string_view kProgram = "quillon-report";
// How often a busy port is tried again while --wait-port lasts.
constexpr std::int64_t kPortRetryMs = 250;

constexpr std::string_view kUsage =
    "Usage: quillon-report [--port PORT] [--baud N] [--wait-port SECONDS] [--log FILE] [--retries N]\n"
    "                      [--dry-run] [--trace] [--json] [--timeout-ms N] OPERATION [FROM TO]\n"
    "       quillon-report --find [PORT...] | --list | --ports | --help | --version   [--json]\n"
    "\n"
    "Sends one report request to the fiscal printer (9600 baud, 8N1, no flow\n"
    "control) and prints the answer as the Quillon dialog shows it, then the\n"
    "answer's data and six status bytes. A status request (command 74) goes\n"
    "first; a report whose answer is lost is sent again as the same bytes, which\n"
    "the printer answers from memory without running the report twice.\n"
    "\n"
    "  OPERATION          index 0-10 or name (--list shows them)\n"
    "  FROM TO            the range of a date (DDMMYY) or number (0001) operation;\n"
    "                     without them the dialog's defaults are sent:\n"
    "                     @DATES@ for dates, @NUMBERS@ for numbers\n"
    "  --port PORT        @PORTS@ (default @DEFAULT@)\n"
    "  --wait-port S      wait up to S seconds for a port another program holds\n"
    "  --log FILE         append one line per run to FILE\n"
    "  --baud N           the line's speed: 9600 (default), 19200, 38400, 57600, 115200\n"
    "  --retries N        send a request whose answer was lost again, up to N times\n"
    "                     (default 3)\n"
    "  --dry-run          print the request frame, open nothing\n"
    "  --trace            print every frame on the wire to standard error\n"
    "  --json             print one JSON object (--list, --ports: an array)\n"
    "  --timeout-ms N     bound on the whole wait while SYN keeps it open (default 30000);\n"
    "                     without SYN the printer must answer within 500 ms\n"
    "  --find [PORT...]   look for the printer: the status request alone on each port\n"
    "                     (all that --ports lists when none is given) at each speed\n"
    "  --list             print index, name, range kind and list text of each operation\n"
    "  --ports            print the serial ports present: name, description, USB id\n"
    "\n"
    "Exit codes (outcome words in --json and --log):\n"
    "  0    ok, dry-run\n"
    "  1    unexpected\n"
    "  2    usage\n"
    "  3    range-refused: wrong length, not digits, no such date, FROM after TO\n"
    "  4    unknown-operation\n"
    "  5    cannot-open: the port cannot be opened or set up\n"
    "  6    no-answer, nak, bad-frame, stale-answer, syn-limit\n"
    "  7    tax-rate-error: no tax rate for the period, or the printer failed\n"
    "  8    wrong-command: the answer is to another command\n"
    "  9    port-busy: another program holds the port\n"
    "  10   output-failed: the output or the log cannot be written\n"
    "  130  interrupted (Ctrl+C); 143 when terminated\n";

std::string Replace(std::string text, std::string_view key, std::string_view value)
{
    if (const auto at = text.find(key); at != std::string::npos)
        text.replace(at, key.size(), value);
    return text;
}

// " (Bulgarian text)" where the dialog has a text for the case.
std::string DialogText(std::string_view text1251)
{
    return text1251.empty() ? std::string() : " (" + Utf8From1251(text1251) + ")";
}

// The same, of the box the dialog shows for a link event.
std::string DialogText(LinkEventKind kind)
{
    const auto notice = NoticeFor(kind);
    return notice ? DialogText(notice->text) : std::string();
}

// The dialog's output text for an answer to command, UTF-8.
std::string AnswerText(int command)
{
    return Utf8From1251(AnswerFor(command).text);
}

// The status request: it changes nothing on the printer, and its answer,
// fresh or from memory, makes the report's sequence byte one the printer
// has not just seen.
constexpr std::uint8_t kStatusCommand = 74;
// The status request's byte S and the report's S + 1 both lie here: never a
// control byte, never the 0x00 the line drops.
constexpr std::uint8_t kFirstSequenceByte = 0x21;
constexpr std::uint8_t kLastStatusSequenceByte = 0x7E;

// The status request's byte, drawn so that runs do not all start alike.
std::uint8_t DrawStatusSequenceByte(ReportPlatform& platform)
{
    constexpr int kChoices = kLastStatusSequenceByte - kFirstSequenceByte + 1;
    const int drawn = ((platform.FirstSequence() % kChoices) + kChoices) % kChoices;
    return static_cast<std::uint8_t>(kFirstSequenceByte + drawn);
}

// Outcomes after which the report may or may not have run, and the same
// bytes sent again settle it: the printer answers a repeated sequence byte
// from memory.
bool LostAnswer(Outcome outcome)
{
    return outcome == Outcome::NoAnswer || outcome == Outcome::Nak || outcome == Outcome::BadFrame ||
           outcome == Outcome::StaleAnswer || outcome == Outcome::SynLimit;
}

// One run of the program, with what it has learnt so far.
class Run {
public:
    Run(const CommandLine& line, ReportPlatform& platform)
        : m_line(line), m_platform(platform), m_start(platform.NowMs())
    {
    }

    ExitCode Execute();

private:
    Outcome Compose();
    Outcome DryRun();
    Outcome Exchange();
    Outcome OpenPort(std::unique_ptr<SerialLine>& serial);
    void DrawSequences();
    Outcome AskStatus(SerialLine& serial, WireTrace* trace);
    Outcome SendReport(SerialLine& serial, WireTrace* trace);
    Outcome Judge(const ExchangeResult& result);
    Outcome JudgeSilence(const ExchangeResult& result);
    Outcome JudgeAnswer(const ExchangeResult& result);
    Outcome Failed(Outcome outcome, std::string what, std::string why = {});
    ExitCode Finish(Outcome outcome);
    std::string TextOutput(Outcome outcome) const;
    std::string JsonOutput(Outcome outcome, ExitCode code) const;
    bool AppendLog(Outcome outcome, ExitCode code);
    std::string Port() const { return m_line.port.empty() ? m_platform.DefaultPort() : m_line.port; }
    bool StopAsked() const { return m_platform.StopCode() != 0; }
    // The answer's data as every output shows it; only once there is an answer.
    std::string AnswerData() const { return DataText(m_result->data, CyrillicLetterUtf8); }
    bool Answered() const { return m_result && m_result->outcome == ExchangeOutcome::Answered; }
    // The printer's last status bytes: the report's answer's, else the status request's.
    const std::array<std::uint8_t, FiscalFrame::kStatusBytes>* PrinterStatus() const;

    const CommandLine& m_line;
    ReportPlatform& m_platform;
    std::int64_t m_start;
    int m_index = -1;
    ReportRequest m_request;
    std::string m_port;                     // set once the port is about to be used
    std::optional<std::uint8_t> m_statusSequenceByte;
    std::optional<std::uint8_t> m_sequenceByte;
    std::optional<std::array<std::uint8_t, FiscalFrame::kStatusBytes>> m_statusAnswer;
    bool m_sent = false;                    // the report's bytes went out at least once
    int m_resent = 0;                       // and were sent again this many times
    std::optional<ExchangeResult> m_result;
    std::string m_failure;                  // "what: why", UTF-8
    std::string m_dryRunText;
    std::string m_dryRunFrame;
};

// The dialog's fields take at most six digits; from the command line the
// same is checked here, because ComposeReportRequest tests only the length.
bool FieldTextAccepted(std::string_view text)
{
    if (text.size() > kRangeFieldLimit)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

ExitCode Run::Execute()
{
    Outcome outcome = Compose();
    if (outcome == Outcome::Ok)
        outcome = m_line.dryRun ? DryRun() : Exchange();
    return Finish(outcome);
}

Outcome Run::Failed(Outcome outcome, std::string what, std::string why)
{
    m_failure = why.empty() ? std::move(what) : what + ": " + why;
    return outcome;
}

Outcome Run::Compose()
{
    m_index = FindOperation(m_line.operation);
    const ReportOperation* operation = FindReportOperation(m_index);
    const RangeDefaults* defaults = FindRangeDefaults(m_index);
    if (operation && !defaults && m_line.first)
        return Failed(Outcome::Usage, "bad operands", std::string(OperationName(m_index)) + " takes no range");
    std::string first;
    std::string second;
    if (defaults) {
        first = m_line.first.value_or(std::string(defaults->firstText));
        second = m_line.second.value_or(std::string(defaults->secondText));
        if (!FieldTextAccepted(first) || !FieldTextAccepted(second))
            return Failed(Outcome::RangeRefused, "range refused",
                          "at most " + std::to_string(kRangeFieldLimit) + " digits each" +
                              DialogText(operation->wrongLengthMessage));
    }
    const ComposedReport composed = ComposeReportRequest(m_index, first, second);
    if (const auto* message = std::get_if<ReportMessage>(&composed)) {
        if (!operation)
            return Failed(Outcome::UnknownOperation, "unknown operation \"" + m_line.operation + "\"",
                          "--list shows them" + DialogText(message->text));
        return Failed(Outcome::RangeRefused, "range refused",
                      "FROM,TO must be " + std::to_string(defaults->requiredLength) + " characters" +
                          DialogText(message->text));
    }
    if (defaults) {
        if (const std::string nonsense = RangeNonsense(operation->rangeKind, first, second); !nonsense.empty())
            return Failed(Outcome::RangeRefused, "range refused", nonsense);
    }
    m_request = std::get<ReportRequest>(composed);
    return Outcome::Ok;
}

void Run::DrawSequences()
{
    m_statusSequenceByte = DrawStatusSequenceByte(m_platform);
    m_sequenceByte = static_cast<std::uint8_t>(*m_statusSequenceByte + 1);
}

Outcome Run::DryRun()
{
    DrawSequences();
    ReportExchange exchange(nullptr, m_platform, nullptr);
    const RequestFrame& frame = exchange.Prepare(m_request, *m_sequenceByte - FiscalFrame::kSequenceBias);
    m_dryRunFrame = HexBytes(std::span<const std::uint8_t>(frame.frame.data(), frame.FrameSize()));
    m_dryRunText = std::string(OperationName(m_index)) + " (" + std::to_string(m_index) + "): command " +
                   std::to_string(m_request.command) + ", data \"" + m_request.data + "\"\n" + RequestLine(frame) +
                   "\n";
    return Outcome::DryRun;
}

Outcome Run::OpenPort(std::unique_ptr<SerialLine>& serial)
{
    const std::int64_t deadline = m_platform.NowMs() + m_line.portWaitSeconds * 1000;
    OpenResult opened;
    for (;;) {
        serial = m_platform.OpenLine(m_port, m_line.baud, opened);
        if (opened.status != OpenStatus::Busy || StopAsked())
            break;
        const std::int64_t left = deadline - m_platform.NowMs();
        if (left <= 0)
            break;
        m_platform.Pause(std::min(left, kPortRetryMs));
    }
    if (StopAsked() && !serial)
        return Failed(Outcome::Interrupted, "interrupted", "stopped while waiting for " + m_port);
    switch (opened.status) {
    case OpenStatus::Opened:
        return serial ? Outcome::Ok : Failed(Outcome::CannotOpen, "cannot open " + m_port, opened.reason);
    case OpenStatus::BadName:
        return Failed(Outcome::Usage, "bad port " + m_port, "--port takes " + std::string(m_platform.PortHelp()));
    case OpenStatus::Busy:
        return Failed(Outcome::PortBusy, "port busy", opened.reason +
                      (m_line.portWaitSeconds > 0 ? " (waited " + std::to_string(m_line.portWaitSeconds) + " s)"
                                                  : " (--wait-port SECONDS waits for it)"));
    case OpenStatus::CannotOpen:
        return Failed(Outcome::CannotOpen, "cannot open " + m_port,
                      opened.reason + DialogText(LinkEventKind::PortNotOpened));
    case OpenStatus::CannotReadState:
        return Failed(Outcome::CannotOpen, "cannot set up " + m_port,
                      opened.reason + DialogText(LinkEventKind::CannotReadState));
    case OpenStatus::CannotSetState:
        return Failed(Outcome::CannotOpen, "cannot set up " + m_port,
                      opened.reason + DialogText(LinkEventKind::CannotSetState));
    }
    return Failed(Outcome::CannotOpen, "cannot open " + m_port, opened.reason);
}

Outcome Run::Exchange()
{
    m_port = Port();
    std::string why;
    if (!m_line.logPath.empty() && !m_platform.AppendFileText(m_line.logPath, "", why))
        return Failed(Outcome::OutputFailed, "cannot write the log " + m_line.logPath, why);
    std::unique_ptr<SerialLine> serial;
    if (const Outcome opened = OpenPort(serial); opened != Outcome::Ok)
        return opened;
    DrawSequences();
    WireTrace trace([this](const std::string& text) { m_platform.WriteErr(text + "\n"); });
    WireTrace* tracing = m_line.trace ? &trace : nullptr;
    if (const Outcome asked = AskStatus(*serial, tracing); asked != Outcome::Ok)
        return asked;
    return SendReport(*serial, tracing);
}

Outcome Run::AskStatus(SerialLine& serial, WireTrace* trace)
{
    ReportExchange status(&serial, m_platform, trace);
    status.Prepare(ReportRequest{kStatusCommand, {}}, *m_statusSequenceByte - FiscalFrame::kSequenceBias);
    Outcome outcome = Outcome::NoAnswer;
    for (std::int64_t attempt = 0; attempt <= m_line.retries; ++attempt) {
        if (StopAsked())
            return Failed(Outcome::Interrupted, "interrupted", "stopped before the report was written");
        const ExchangeResult result = status.Run(m_line.totalWaitMs, [this] { return StopAsked(); });
        if (result.outcome == ExchangeOutcome::Interrupted)
            return Failed(Outcome::Interrupted, "interrupted", "stopped before the report was written");
        // Whatever command it names: the printer's last byte is now S.
        const std::string damage = result.outcome == ExchangeOutcome::Answered ? FrameDamage(result.frame) : "";
        if (result.outcome == ExchangeOutcome::Answered && damage.empty()) {
            m_statusAnswer = result.status;
            m_failure.clear();
            return Outcome::Ok;
        }
        outcome = damage.empty() ? Judge(result) : Failed(Outcome::BadFrame, "damaged answer", damage);
    }
    m_failure += "; the status request was sent " + std::to_string(m_line.retries + 1) +
                 (m_line.retries == 0 ? " time" : " times") +
                 " without a usable answer, so the report was not sent (--find looks for the printer)";
    return outcome;
}

Outcome Run::SendReport(SerialLine& serial, WireTrace* trace)
{
    ReportExchange report(&serial, m_platform, trace);
    report.Prepare(m_request, *m_sequenceByte - FiscalFrame::kSequenceBias);
    // Once the report's bytes are out, a stop does not end the run: the
    // tries go on within their bounds until the answer is known. A second
    // stop ends them at once.
    const StopCheck secondStop = [this] { return m_platform.StopCount() >= 2; };
    Outcome outcome = Outcome::NoAnswer;
    for (std::int64_t attempt = 0; attempt <= m_line.retries; ++attempt) {
        if (StopAsked() && !m_sent)
            return Failed(Outcome::Interrupted, "interrupted", "stopped before the report was written");
        if (secondStop())
            break;
        if (m_sent)
            ++m_resent;
        m_sent = true;   // before the write: a run never says "not sent" once bytes may have gone out
        m_result = report.Run(m_line.totalWaitMs, secondStop);
        outcome = Judge(*m_result);
        if (!LostAnswer(outcome))
            break;
    }
    const std::string tries = std::to_string(m_resent + 1) + (m_resent == 0 ? " time" : " times");
    if (StopAsked()) {
        const bool known = outcome != Outcome::Interrupted && !LostAnswer(outcome);
        return Failed(Outcome::Interrupted, "interrupted",
                      "stopped after the report was sent (" + tries + "); " +
                          (known ? "the printer answered"
                                 : "its answer is not known: the printer may have run it, so check its journal before "
                                   "running it again"));
    }
    if (LostAnswer(outcome))
        m_failure += "; the report was sent " + tries +
                     " without a usable answer: the printer may have run it, so check its journal before running it again";
    return outcome;
}

Outcome Run::Judge(const ExchangeResult& result)
{
    switch (result.outcome) {
    case ExchangeOutcome::Interrupted:
        return Failed(Outcome::Interrupted, "interrupted", "stopped while waiting for the answer");
    case ExchangeOutcome::SynLimit:
        if (result.midFrame)
            return JudgeSilence(result);
        return Failed(Outcome::SynLimit, "no answer within " + std::to_string(m_line.totalWaitMs) + " ms",
                      "the printer kept sending SYN; --timeout-ms raises the bound" +
                          DialogText(LinkEventKind::NoAnswer));
    case ExchangeOutcome::NoAnswer:
        return JudgeSilence(result);
    case ExchangeOutcome::Answered:
        return JudgeAnswer(result);
    }
    return Outcome::Unexpected;
}

Outcome Run::JudgeSilence(const ExchangeResult& result)
{
    const std::string dialogText = result.periodEnded ? DialogText(LinkEventKind::NoAnswer) : std::string();
    if (result.midFrame)
        return Failed(Outcome::BadFrame, "unusable answer",
                      "cut off: its bytes were still coming after " + std::to_string(m_line.totalWaitMs) +
                          " ms (--timeout-ms)");
    if (!result.unusableFrame.empty() && result.echoes == 0)
        return Failed(Outcome::BadFrame, "unusable answer", result.unusableFrame + dialogText);
    if (result.sawNak)
        return Failed(Outcome::Nak, "request refused", "the printer sent NAK" + dialogText);
    const std::string echo = result.echoes > 0 ? " (the line sent the request back; that echo is not an answer)" : "";
    if (!result.periodEnded)
        return Failed(Outcome::NoAnswer, "no answer",
                      "nothing within " + std::to_string(m_line.totalWaitMs) + " ms (--timeout-ms)" + echo);
    return Failed(Outcome::NoAnswer, "no answer",
                  "nothing within " + std::to_string(kResponsePeriodMs) + " ms of the request" + echo + dialogText);
}

Outcome Run::JudgeAnswer(const ExchangeResult& result)
{
    if (const std::string damage = FrameDamage(result.frame); !damage.empty())
        return Failed(Outcome::BadFrame, "damaged answer", damage);
    if (result.sequenceByte != *m_sequenceByte)
        return Failed(Outcome::StaleAnswer, "stale answer",
                      "sequence byte 0x" + HexByte(result.sequenceByte) + ", the request's is 0x" +
                          HexByte(*m_sequenceByte));
    if (result.command != m_request.command)
        return Failed(Outcome::WrongCommand, "answer to another command",
                      "command " + std::to_string(result.commandByte) + ", not " + std::to_string(m_request.command));
    if (result.taxRateError)
        return Failed(Outcome::TaxRateError, "tax-rate error", Utf8From1251(NoticeFor(LinkEventKind::TaxRateError)->text));
    m_failure.clear();   // an earlier try's failure is history once the answer came
    return Outcome::Ok;
}

const std::array<std::uint8_t, FiscalFrame::kStatusBytes>* Run::PrinterStatus() const
{
    if (Answered())
        return &m_result->status;
    return m_statusAnswer ? &*m_statusAnswer : nullptr;
}

std::string Run::TextOutput(Outcome outcome) const
{
    if (outcome == Outcome::DryRun)
        return m_dryRunText;
    // Damaged and stale answers are not shown as answers: their data is not this request's.
    const bool shown = outcome == Outcome::Ok || outcome == Outcome::TaxRateError || outcome == Outcome::WrongCommand;
    if (!shown || !m_result)
        return {};
    return AnswerText(m_result->command) + "\ndata: \"" + AnswerData() +
           "\"\nstatus: " + HexBytes(m_result->status) + "\n";
}

std::string Run::JsonOutput(Outcome outcome, ExitCode code) const
{
    JsonObject json;
    if (m_index >= 0)
        json.Text("operation", OperationName(m_index)).Number("index", m_index);
    else if (!m_line.operation.empty())
        json.Text("operation", m_line.operation);
    if (!m_port.empty())
        json.Text("port", m_port);
    if (m_request.command != 0)
        json.Number("command", m_request.command).Text("request", m_request.data);
    if (m_sequenceByte)
        json.Text("sequence", "0x" + HexByte(*m_sequenceByte));
    if (m_statusSequenceByte && outcome != Outcome::DryRun)
        json.Bool("sent", m_sent)
            .Number("resent", m_resent)
            .Text("status_sequence", "0x" + HexByte(*m_statusSequenceByte));
    if (outcome == Outcome::DryRun)
        json.Text("frame", m_dryRunFrame);
    if (m_result && m_result->outcome == ExchangeOutcome::Answered) {
        JsonArray status;
        for (std::uint8_t b : m_result->status)
            status.Add(JsonString(HexByte(b)));
        json.Number("answered_command", m_result->commandByte)
            .Text("answer_sequence", "0x" + HexByte(m_result->sequenceByte))
            .Text("data", AnswerData())
            .Raw("status", status.Done())
            .Text("answer", AnswerText(m_result->command));
    } else if (m_result) {
        json.Null("answered_command").Null("data").Null("status").Null("answer");
    }
    json.Text("outcome", OutcomeName(outcome)).Number("exit_code", static_cast<int>(code));
    if (m_result)
        json.Number("elapsed_ms", m_platform.NowMs() - m_start);   // the whole run, every try, as the log has it
    if (!m_failure.empty())
        json.Text("message", m_failure);
    return json.Done() + "\n";
}

// False when the line could not be written.
bool Run::AppendLog(Outcome outcome, ExitCode code)
{
    if (m_line.logPath.empty())
        return true;
    RunRecord record{m_platform.LocalTime(),
                     m_index >= 0 ? std::string(OperationName(m_index)) : m_line.operation,
                     m_port.empty() ? Port() : m_port,
                     OutcomeName(outcome),
                     static_cast<int>(code),
                     m_platform.NowMs() - m_start,
                     m_sent,
                     m_resent,
                     PrinterStatus() ? HexBytes(*PrinterStatus()) : std::string(),
                     Answered() ? AnswerData() : std::string()};
    std::string why;
    if (m_platform.AppendFileText(m_line.logPath, LogLine(record), why))
        return true;
    m_platform.WriteErr(std::string(kProgram) + ": cannot write the log " + m_line.logPath + ": " + why + "\n");
    return false;
}

ExitCode Run::Finish(Outcome outcome)
{
    ExitCode code = ExitCodeOf(outcome);
    if (outcome == Outcome::Interrupted && m_platform.StopCode() != 0)
        code = static_cast<ExitCode>(m_platform.StopCode().load());
    if (!m_failure.empty())
        m_platform.WriteErr(std::string(kProgram) + ": " + m_failure + "\n");
    // The output first: what the printer answered reaches the caller even
    // when the log cannot be written afterwards.
    const std::string output = m_line.json ? JsonOutput(outcome, code) : TextOutput(outcome);
    std::string why;
    if (!output.empty() && !m_platform.WriteOut(output, why)) {
        outcome = Outcome::OutputFailed;
        code = ExitCode::OutputFailed;
        m_platform.WriteErr(std::string(kProgram) + ": cannot write the output: " + why + "\n");
    }
    // A failed log line must not hide a failed report: it turns only a
    // success into output-failed.
    if (!AppendLog(outcome, code) && (code == ExitCode::Ok))
        code = ExitCode::OutputFailed;
    return code;
}

// "FROM TO" as the dialog fills them in for a range kind; "-" for none.
std::string DefaultRangeText(RangeKind kind)
{
    const RangeDefaults* defaults = FindRangeDefaults(kind);
    return defaults ? std::string(defaults->firstText) + " " + std::string(defaults->secondText) : "-";
}

std::string ListText(bool json)
{
    std::string text;
    JsonArray array;
    for (int i = 0; i < kReportOperationCount; ++i) {
        const ReportOperation& operation = ReportOperations()[static_cast<std::size_t>(i)];
        if (json) {
            array.Add(JsonObject{}
                          .Number("index", i)
                          .Text("name", OperationName(i))
                          .Text("range", RangeKindName(operation.rangeKind))
                          .Text("default_range", DefaultRangeText(operation.rangeKind))
                          .Number("command", operation.command)
                          .Text("text", Utf8From1251(operation.listText))
                          .Done());
            continue;
        }
        char head[80];
        std::snprintf(head, sizeof head, "%2d  %-19s %-7s %-14s ", i, OperationName(i).data(),
                      RangeKindName(operation.rangeKind).data(), DefaultRangeText(operation.rangeKind).c_str());
        text += head + Utf8From1251(operation.listText) + "\n";
    }
    return json ? array.Done() + "\n" : text;
}

// Tab-separated: name, description, USB vendor:product, the by-id link.
std::string PortsText(const std::vector<SerialPortInfo>& ports, bool json)
{
    std::string text;
    JsonArray array;
    for (const SerialPortInfo& port : ports) {
        if (json) {
            JsonObject object;
            object.Text("name", port.name).Text("description", port.description);
            port.usbId.empty() ? object.Null("usb") : object.Text("usb", port.usbId);
            port.byId.empty() ? object.Null("by_id") : object.Text("by_id", port.byId);
            array.Add(object.Done());
            continue;
        }
        text += port.name + "\t" + port.description + "\t" + port.usbId + (port.byId.empty() ? "" : "\t" + port.byId) + "\n";
    }
    return json ? array.Done() + "\n" : text;
}

// What --help, --version, --list and --ports print.
std::optional<std::string> InformationFor(const CommandLine& line, ReportPlatform& platform)
{
    if (line.help) {
        std::string help = Replace(std::string(kUsage), "@PORTS@", platform.PortHelp());
        help = Replace(std::move(help), "@DEFAULT@", platform.DefaultPort());
        help = Replace(std::move(help), "@DATES@", DefaultRangeText(RangeKind::DateRange));
        help = Replace(std::move(help), "@NUMBERS@", DefaultRangeText(RangeKind::NumberRange));
        return line.json ? JsonObject{}.Text("usage", help).Done() + "\n" : help;
    }
    if (line.version) {
        if (line.json)
            return JsonObject{}.Text("program", kProgram).Text("version", LORVANE_VERSION_TEXT).Done() + "\n";
        return std::string(kProgram) + " " LORVANE_VERSION_TEXT "\n";
    }
    if (line.list)
        return ListText(line.json);
    if (line.ports)
        return PortsText(platform.ListPorts(), line.json);
    return std::nullopt;
}

// What --find learnt of one port.
struct FoundPrinter {
    std::string port;
    std::int64_t baud = 0;
    std::array<std::uint8_t, FiscalFrame::kStatusBytes> status{};
    bool busy = false;
};

// The status request once, at the speed the line is set to: the printer's
// status bytes when it answered whole.
std::optional<std::array<std::uint8_t, FiscalFrame::kStatusBytes>> AskStatusOnce(SerialLine& serial,
                                                                                   ReportPlatform& platform,
                                                                                   std::int64_t totalWaitMs)
{
    ReportExchange exchange(&serial, platform, nullptr);
    exchange.Prepare(ReportRequest{kStatusCommand, {}}, DrawStatusSequenceByte(platform) - FiscalFrame::kSequenceBias);
    const ExchangeResult result = exchange.Run(totalWaitMs, [&platform] { return platform.StopCode() != 0; });
    if (result.outcome == ExchangeOutcome::Answered && FrameDamage(result.frame).empty())
        return result.status;
    return std::nullopt;
}

// Looks at one port at each speed, the usual one first, until the printer
// answers; nothing but the status request goes out.
std::optional<FoundPrinter> FindOnPort(const std::string& port, const CommandLine& line, ReportPlatform& platform)
{
    for (const std::int64_t baud : kLineSpeeds) {
        if (platform.StopCode() != 0)
            return std::nullopt;
        OpenResult opened;
        std::unique_ptr<SerialLine> serial = platform.OpenLine(port, baud, opened);
        if (opened.status == OpenStatus::Busy)
            return FoundPrinter{port, 0, {}, true};
        if (!serial) {
            platform.WriteErr(std::string(kProgram) + ": " + port + ": cannot open: " + opened.reason + "\n");
            return std::nullopt;
        }
        if (const auto status = AskStatusOnce(*serial, platform, line.totalWaitMs))
            return FoundPrinter{port, baud, *status, false};
    }
    return std::nullopt;
}

// --find [PORT...]: PORT<TAB>BAUD<TAB>status bytes for each port where a
// printer answered (PORT<TAB>busy for a port another program holds); exit 0
// when one was found.
ExitCode FindPrinters(const CommandLine& line, ReportPlatform& platform)
{
    std::vector<std::string> ports = line.findPorts;
    if (ports.empty()) {
        for (const SerialPortInfo& info : platform.ListPorts())
            ports.push_back(info.name);
    }
    std::string text;
    JsonArray array;
    bool found = false;
    for (const std::string& port : ports) {
        const auto printer = FindOnPort(port, line, platform);
        if (!printer)
            continue;
        found = found || !printer->busy;
        JsonObject object;
        object.Text("port", port);
        if (printer->busy) {
            object.Null("baud").Null("status").Bool("busy", true);
            text += port + "\tbusy\n";
        } else {
            JsonArray status;
            for (std::uint8_t b : printer->status)
                status.Add(JsonString(HexByte(b)));
            object.Number("baud", printer->baud).Raw("status", status.Done());
            text += port + "\t" + std::to_string(printer->baud) + "\t" + HexBytes(printer->status) + "\n";
        }
        array.Add(object.Done());
    }
    std::string why;
    if (!platform.WriteOut(line.json ? array.Done() + "\n" : text, why)) {
        platform.WriteErr(std::string(kProgram) + ": cannot write the output: " + why + "\n");
        return ExitCode::OutputFailed;
    }
    if (platform.StopCode() != 0)
        return static_cast<ExitCode>(platform.StopCode().load());
    if (!found)
        platform.WriteErr(std::string(kProgram) + ": no printer answered the status request on " +
                          (line.findPorts.empty() ? "the ports --ports lists" : "the ports given") + "\n");
    return found ? ExitCode::Ok : ExitCode::NotAnswering;
}

ExitCode RunParsed(const CommandLine& line, ReportPlatform& platform)
{
    if (const auto information = InformationFor(line, platform)) {
        std::string why;
        if (platform.WriteOut(*information, why))
            return ExitCode::Ok;
        platform.WriteErr(std::string(kProgram) + ": cannot write the output: " + why + "\n");
        return ExitCode::OutputFailed;
    }
    if (line.find)
        return FindPrinters(line, platform);
    return Run(line, platform).Execute();
}

// A failure before a run could start: the message, and JSON when asked for.
ExitCode EarlyFailure(ReportPlatform& platform, bool json, Outcome outcome, const std::string& message)
{
    const ExitCode code = ExitCodeOf(outcome);
    platform.WriteErr(std::string(kProgram) + ": " + message + "\n");
    if (json) {
        std::string why;
        const std::string object = JsonObject{}
                                       .Text("outcome", OutcomeName(outcome))
                                       .Number("exit_code", static_cast<int>(code))
                                       .Text("message", message)
                                       .Done();
        if (!platform.WriteOut(object + "\n", why))
            return ExitCode::OutputFailed;
    }
    return code;
}

}  // namespace

ExitCode RunReportProgram(std::span<const std::string_view> args, ReportPlatform& platform)
{
    const bool json = AsksForJson(args);
    try {
        std::string error;
        const auto line = ParseCommandLine(args, error);
        if (!line)
            return EarlyFailure(platform, json, Outcome::Usage, "bad usage: " + error + " (quillon-report --help shows the options)");
        return RunParsed(*line, platform);
    } catch (const std::bad_alloc&) {
        return EarlyFailure(platform, json, Outcome::Unexpected, "out of memory" + DialogText(LinkEventKind::NoMemory));
    } catch (...) {
        return EarlyFailure(platform, json, Outcome::Unexpected, "unexpected failure");
    }
}

}  // namespace quillon::report
