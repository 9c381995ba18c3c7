#include "tool/report/report_program.h"

#include <cstdio>
#include <new>
#include <variant>

#include "tool/link/link_texts.h"
#include "tool/report/command_line.h"
#include "tool/report/operation_names.h"
#include "tool/report/utf8_text.h"
#include "tool/report/wire_text.h"

#ifndef QUILLON_REPORT_VERSION
#define QUILLON_REPORT_VERSION "unknown"
#endif

namespace quillon::report {
namespace {

constexpr std::string_view kProgram = "quillon-report";
constexpr int kTaxRatesCommand = 50;

constexpr std::string_view kUsage =
    "Usage: quillon-report [--port PORT] [--dry-run] [--trace] [--json] [--timeout-ms N] OPERATION [FROM TO]\n"
    "       quillon-report --list | --help | --version\n"
    "\n"
    "Sends one report request to the fiscal printer (9600 baud, 8N1, no flow\n"
    "control) and prints the answer as the Quillon dialog shows it, then the\n"
    "answer's data and six status bytes.\n"
    "\n"
    "  OPERATION        index 0-10 or name (--list shows them)\n"
    "  FROM TO          the range of a date (DDMMYY) or number (0001) operation;\n"
    "                   without them the dialog's defaults are sent\n"
    "  --port PORT      @PORTS@ (default @DEFAULT@)\n"
    "  --dry-run        print the request frame, open nothing\n"
    "  --trace          print every frame on the wire to standard error\n"
    "  --json           print one JSON object instead of text\n"
    "  --timeout-ms N   bound on the whole wait while SYN keeps it open (default 30000);\n"
    "                   without SYN the printer must answer within 500 ms\n"
    "  --list           print index, name, range kind and list text of each operation\n"
    "\n"
    "Exit codes:\n"
    "  0  the printer answered the request\n"
    "  1  unexpected failure (out of memory)\n"
    "  2  bad options or operands\n"
    "  3  range refused (wrong length or not digits)\n"
    "  4  unknown operation\n"
    "  5  the port cannot be opened or set up\n"
    "  6  the printer does not answer\n"
    "  7  tax-rate error: no tax rate for the period, or the printer failed\n"
    "  8  the answer is to another command\n";

std::string Replace(std::string text, std::string_view key, std::string_view value)
{
    if (const auto at = text.find(key); at != std::string::npos)
        text.replace(at, key.size(), value);
    return text;
}

std::string JsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (b < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

std::string ByteHex(std::uint8_t b)
{
    return HexBytes(std::span<const std::uint8_t>(&b, 1));
}

// Builds a JSON object field by field, in the order added.
class JsonObject {
public:
    JsonObject& Text(std::string_view name, std::string_view utf8) { return Raw(name, JsonString(utf8)); }
    JsonObject& Number(std::string_view name, long long value) { return Raw(name, std::to_string(value)); }
    JsonObject& Null(std::string_view name) { return Raw(name, "null"); }
    JsonObject& Raw(std::string_view name, std::string_view json)
    {
        m_text += m_text.empty() ? "{" : ",";
        m_text += JsonString(name) + ":" + std::string(json);
        return *this;
    }
    std::string Done() const { return (m_text.empty() ? "{" : m_text) + "}\n"; }

private:
    std::string m_text;
};

std::string_view OutcomeName(ExitCode code)
{
    switch (code) {
    case ExitCode::Ok: return "ok";
    case ExitCode::Unexpected: return "unexpected";
    case ExitCode::Usage: return "usage";
    case ExitCode::RangeRefused: return "range-refused";
    case ExitCode::UnknownOperation: return "unknown-operation";
    case ExitCode::PortNotOpened: return "port-not-opened";
    case ExitCode::NotAnswering: return "not-answering";
    case ExitCode::TaxRateError: return "tax-rate-error";
    case ExitCode::OtherCommand: return "other-command";
    }
    return "unexpected";
}

// One run of the program, with what it has learnt so far.
class Run {
public:
    Run(const CommandLine& line, ReportPlatform& platform) : m_line(line), m_platform(platform) {}

    ExitCode Execute();

private:
    ExitCode Compose();
    ExitCode DryRun();
    ExitCode Exchange();
    ExitCode Judge(const ExchangeResult& result);
    ExitCode Fail(ExitCode code, std::string_view reason, std::string_view message1251);
    void PrintAnswer(const ExchangeResult& result, ExitCode code);
    void Err(std::string_view text) { m_platform.WriteErr(std::string(kProgram) + ": " + std::string(text) + "\n"); }
    JsonObject RequestJson() const;

    const CommandLine& m_line;
    ReportPlatform& m_platform;
    int m_index = -1;
    ReportRequest m_request;
    std::string m_port;
    std::uint8_t m_sequenceByte = 0;
    std::string m_message;   // the failure's Bulgarian text, UTF-8, for --json
};

// The dialog's fields take at most six digits; from the command line the
// same is checked here, because ComposeReportRequest tests only the length.
bool FieldTextAccepted(std::string_view text)
{
    if (text.size() > kRangeFieldLimit)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

ExitCode Run::Execute()
{
    const ExitCode composed = Compose();
    if (composed != ExitCode::Ok)
        return composed;
    return m_line.dryRun ? DryRun() : Exchange();
}

ExitCode Run::Compose()
{
    m_index = FindOperation(m_line.operation);
    const ReportOperation* operation = FindReportOperation(m_index);
    const RangeDefaults* defaults = FindRangeDefaults(m_index);
    if (operation && !defaults && m_line.first) {
        Err(std::string(OperationName(m_index)) + " takes no range");
        return ExitCode::Usage;
    }
    std::string first;
    std::string second;
    if (defaults) {
        first = m_line.first.value_or(std::string(defaults->firstText));
        second = m_line.second.value_or(std::string(defaults->secondText));
        if (!FieldTextAccepted(first) || !FieldTextAccepted(second))
            return Fail(ExitCode::RangeRefused, "range refused", operation->wrongLengthMessage);
    }
    const ComposedReport composed = ComposeReportRequest(m_index, first, second);
    if (const auto* message = std::get_if<ReportMessage>(&composed)) {
        if (!operation)
            return Fail(ExitCode::UnknownOperation,
                        "unknown operation \"" + m_line.operation + "\" (--list shows them)", message->text);
        return Fail(ExitCode::RangeRefused, "range refused", message->text);
    }
    m_request = std::get<ReportRequest>(composed);
    return ExitCode::Ok;
}

ExitCode Run::Fail(ExitCode code, std::string_view reason, std::string_view message1251)
{
    m_message = Utf8From1251(message1251);
    Err(std::string(reason) + (m_message.empty() ? "" : ": " + m_message));
    if (m_line.json) {
        JsonObject json = m_index >= 0 ? RequestJson() : JsonObject{};
        if (m_index < 0)
            json.Text("operation", m_line.operation);
        m_platform.WriteOut(json.Text("outcome", OutcomeName(code))
                                .Number("exit_code", static_cast<int>(code))
                                .Text("message", m_message)
                                .Done());
    }
    return code;
}

JsonObject Run::RequestJson() const
{
    JsonObject json;
    json.Text("operation", OperationName(m_index)).Number("index", m_index);
    if (!m_port.empty())
        json.Text("port", m_port);
    if (m_request.command != 0) {
        json.Number("command", m_request.command).Text("request", m_request.data);
    }
    return json;
}

ExitCode Run::DryRun()
{
    ReportExchange exchange(nullptr, m_platform, nullptr);
    const RequestFrame& frame = exchange.Prepare(m_request);
    if (m_line.json) {
        const std::span<const std::uint8_t> bytes(frame.frame.data(), frame.FrameSize());
        m_platform.WriteOut(RequestJson()
                                .Text("sequence", "0x" + ByteHex(frame.frame[2]))
                                .Text("frame", HexBytes(bytes))
                                .Text("outcome", "dry-run")
                                .Number("exit_code", 0)
                                .Done());
        return ExitCode::Ok;
    }
    m_platform.WriteOut(std::string(OperationName(m_index)) + " (" + std::to_string(m_index) + "): command " +
                        std::to_string(m_request.command) + ", data \"" + m_request.data + "\"\n" +
                        RequestLine(frame) + "\n");
    return ExitCode::Ok;
}

ExitCode Run::Exchange()
{
    m_port = m_line.port.empty() ? m_platform.DefaultPort() : m_line.port;
    OpenStatus status = OpenStatus::CannotOpen;
    std::unique_ptr<SerialLine> serial = m_platform.OpenLine(m_port, status);
    switch (status) {
    case OpenStatus::Opened:
        break;
    case OpenStatus::BadName:
        Err("--port takes " + std::string(m_platform.PortHelp()) + ", not " + m_port);
        return ExitCode::Usage;
    case OpenStatus::CannotOpen:
        return Fail(ExitCode::PortNotOpened, "cannot open " + m_port, texts::kCannotOpenPort);
    case OpenStatus::CannotReadState:
        return Fail(ExitCode::PortNotOpened, "cannot set up " + m_port, texts::kCannotReadState);
    case OpenStatus::CannotSetState:
        return Fail(ExitCode::PortNotOpened, "cannot set up " + m_port, texts::kCannotSetState);
    }
    if (!serial)
        return Fail(ExitCode::PortNotOpened, "cannot open " + m_port, texts::kCannotOpenPort);

    WireTrace trace([this](const std::string& text) { m_platform.WriteErr(text + "\n"); });
    ReportExchange exchange(serial.get(), m_platform, m_line.trace ? &trace : nullptr);
    m_sequenceByte = exchange.Prepare(m_request).frame[2];
    return Judge(exchange.Run(m_line.totalWaitMs));
}

ExitCode Run::Judge(const ExchangeResult& result)
{
    // The link's own messages, as the dialog would show them in boxes.
    bool taxError = false;
    std::string lastMessage;
    for (const LinkMessage& message : result.messages) {
        taxError = taxError || message.text == texts::kTaxRateError;
        lastMessage = Utf8From1251(message.text);
        Err(lastMessage);
    }
    ExitCode code = ExitCode::Ok;
    if (result.outcome == ExchangeOutcome::WaitTooLong) {
        m_message = Utf8From1251(texts::kPrinterNotAnswering);
        Err(m_message + " (SYN kept the wait open " + std::to_string(m_line.totalWaitMs) +
            " ms, the bound; --timeout-ms raises it)");
        code = ExitCode::NotAnswering;
    } else if (result.outcome == ExchangeOutcome::NotAnswering) {
        m_message = lastMessage;
        code = ExitCode::NotAnswering;
    } else if (result.command != m_request.command) {
        m_message = "answer to command " + std::to_string(result.commandByte) + ", not to " +
                    std::to_string(m_request.command);
        Err("the " + m_message);
        code = ExitCode::OtherCommand;
    } else if (taxError && result.command == kTaxRatesCommand) {
        m_message = Utf8From1251(texts::kTaxRateError);
        code = ExitCode::TaxRateError;
    }
    PrintAnswer(result, code);
    return code;
}

void Run::PrintAnswer(const ExchangeResult& result, ExitCode code)
{
    const bool answered = result.outcome == ExchangeOutcome::Answered;
    const std::string data = DataText(result.data);
    const std::string status = HexBytes(result.status);
    if (!m_line.json) {
        if (answered)
            m_platform.WriteOut(Utf8From1251(result.answerText) + "\ndata: \"" + data + "\"\nstatus: " + status + "\n");
        return;
    }
    JsonObject json = RequestJson();
    json.Text("sequence", "0x" + ByteHex(m_sequenceByte));
    if (answered) {
        std::string statusArray = "[";
        for (std::uint8_t b : result.status)
            statusArray += (statusArray.size() > 1 ? "," : "") + JsonString(ByteHex(b));
        json.Number("answered_command", result.commandByte)
            .Text("answer_sequence", "0x" + ByteHex(result.sequenceByte))
            .Text("data", data)
            .Raw("status", statusArray + "]")
            .Text("answer", Utf8From1251(result.answerText));
    } else {
        json.Null("answered_command").Null("data").Null("status").Null("answer");
    }
    json.Text("outcome", OutcomeName(code)).Number("exit_code", static_cast<int>(code)).Number("elapsed_ms", result.elapsedMs);
    if (code != ExitCode::Ok)
        json.Text("message", m_message);
    m_platform.WriteOut(json.Done());
}

std::string ListText()
{
    std::string text;
    for (int i = 0; i < kReportOperationCount; ++i) {
        const ReportOperation& operation = ReportOperations()[static_cast<std::size_t>(i)];
        char head[64];
        std::snprintf(head, sizeof head, "%2d  %-19s %-7s ", i, OperationName(i).data(),
                      RangeKindName(operation.rangeKind).data());
        text += head + Utf8From1251(operation.listText) + "\n";
    }
    return text;
}

ExitCode RunParsed(const CommandLine& line, ReportPlatform& platform)
{
    if (line.help) {
        platform.WriteOut(Replace(Replace(std::string(kUsage), "@PORTS@", platform.PortHelp()), "@DEFAULT@",
                                  platform.DefaultPort()));
        return ExitCode::Ok;
    }
    if (line.version) {
        platform.WriteOut(std::string(kProgram) + " " QUILLON_REPORT_VERSION "\n");
        return ExitCode::Ok;
    }
    if (line.list) {
        platform.WriteOut(ListText());
        return ExitCode::Ok;
    }
    return Run(line, platform).Execute();
}

}  // namespace

ExitCode RunReportProgram(std::span<const std::string_view> args, ReportPlatform& platform)
{
    try {
        std::string error;
        const auto line = ParseCommandLine(args, error);
        if (!line) {
            platform.WriteErr(std::string(kProgram) + ": " + error + "\nTry 'quillon-report --help'.\n");
            return ExitCode::Usage;
        }
        return RunParsed(*line, platform);
    } catch (const std::bad_alloc&) {
        platform.WriteErr(std::string(kProgram) + ": " + Utf8From1251(texts::kNoMemory) + "\n");
    } catch (...) {
        platform.WriteErr(std::string(kProgram) + ": unexpected failure\n");
    }
    return ExitCode::Unexpected;
}

}  // namespace quillon::report
