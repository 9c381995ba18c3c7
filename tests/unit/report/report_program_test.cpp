#include "tool/report/report_program.h"

#include <gtest/gtest.h>

#include <map>
#include <new>

#include "report_fakes.h"

namespace quillon::report {
namespace {

using testing::AnswersAfter;
using testing::FakeClock;
using testing::FakeLine;
using testing::Response;

// The platform of a test: one fake line behind every port, recorded output,
// files in a map.
class FakePlatform : public ReportPlatform {
public:
    std::int64_t NowMs() override { return clock.NowMs(); }
    std::string DefaultPort() const override { return "COM1"; }
    std::string_view PortHelp() const override { return "COM1 to COM256"; }
    std::unique_ptr<SerialLine> OpenLine(const std::string& port, std::int64_t baud, OpenResult& result) override
    {
        opened.push_back(port);
        lastBaud = baud;
        result = {busyOpens > 0 ? OpenStatus::Busy : openStatus, "the system's reason"};
        busyOpens = std::max(0, busyOpens - 1);
        if (result.status != OpenStatus::Opened)
            return nullptr;
        auto line = std::make_unique<FakeLine>(clock);
        // The status request goes first; unless told otherwise the printer
        // answers it, and the test's responder answers the rest.
        line->responder = [this, printer = responder](FakeLine& l, std::span<const std::uint8_t> request) {
            if (request[3] == 74 && answersStatus)
                l.Send(5, Response(74, "", request[2]));
            else if (printer)
                printer(l, request);
        };
        written = &line->written;
        lines.push_back(std::move(line));
        return std::make_unique<Borrowed>(*lines.back());
    }
    std::vector<SerialPortInfo> ListPorts() override
    {
        if (outOfMemory)
            throw std::bad_alloc();
        return ports;
    }
    bool WriteOut(std::string_view text, std::string& why) override
    {
        out += text;
        why = "No space left on device";
        return outputWorks;
    }
    void WriteErr(std::string_view text) override { err += text; }
    const std::atomic<int>& StopCode() override { return stopCode; }
    int StopCount() override { return stopCount; }
    void Pause(std::int64_t ms) override { clock.now += ms; }
    std::string LocalTime() override { return "2026-12-09 21:30:02"; }
    bool AppendFileText(const std::string& path, std::string_view text, std::string& why) override
    {
        why = "Permission denied";
        if (readOnly || (logFull && !text.empty()))
            return false;
        files[path] += text;
        return true;
    }
    int FirstSequence() override { return firstSequence; }
    int firstSequence = 0;   // status request 0x21, report 0x22

    FakeClock clock;
    FakeLine::Responder responder;
    OpenStatus openStatus = OpenStatus::Opened;
    int busyOpens = 0;   // this many opens find the port busy first
    std::int64_t lastBaud = 0;
    std::vector<std::string> opened;
    std::vector<std::unique_ptr<FakeLine>> lines;   // kept for inspection after the run
    std::vector<std::uint8_t>* written = nullptr;
    std::vector<SerialPortInfo> ports;
    std::map<std::string, std::string> files;
    std::atomic<int> stopCode{0};
    int stopCount = 0;
    bool answersStatus = true;
    bool outputWorks = true;
    bool readOnly = false;
    bool logFull = false;   // opens, but a line cannot be written (a full disk, /dev/full)
    bool outOfMemory = false;
    std::string out;
    std::string err;

private:
    struct Borrowed : SerialLine {
        explicit Borrowed(FakeLine& l) : line(l) {}
        bool Write(std::span<const std::uint8_t> bytes) override { return line.Write(bytes); }
        ReadResult ReadByte(std::uint8_t& byte) override { return line.ReadByte(byte); }
        void RecoverFromReadFailure() override { line.RecoverFromReadFailure(); }
        FakeLine& line;
    };
};

class ReportProgramTest : public ::testing::Test {
protected:
    int Run(std::vector<std::string_view> args) { return static_cast<int>(RunReportProgram(args, platform)); }
    // The data text of the last frame written (the report's; the status
    // request goes first).
    std::string Sent() const
    {
        if (!platform.written)
            return {};
        const auto& w = *platform.written;
        const auto start = std::find(w.rbegin(), w.rend(), FiscalFrame::kStart).base() - 1;
        return std::string(start + 4, w.end() - 6);
    }

    FakePlatform platform;
};

// The outcome word of the last --json run.
std::string OutcomeOf(const std::string& out)
{
    const std::string key = "\"outcome\":\"";
    const auto at = out.rfind(key);
    return at == std::string::npos ? "" : out.substr(at + key.size(), out.find('"', at + key.size()) - at - key.size());
}

// "Отговор на команда  69 " in UTF-8.
constexpr std::string_view kAnswer69Utf8 = "\xD0\x9E\xD1\x82\xD0\xB3\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x80 \xD0\xBD\xD0\xB0 "
                                           "\xD0\xBA\xD0\xBE\xD0\xBC\xD0\xB0\xD0\xBD\xD0\xB4\xD0\xB0  69 ";
// "Няма такава функция!"
constexpr std::string_view kNoSuchFunctionUtf8 =
    "\xD0\x9D\xD1\x8F\xD0\xBC\xD0\xB0 \xD1\x82\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB2\xD0\xB0 "
    "\xD1\x84\xD1\x83\xD0\xBD\xD0\xBA\xD1\x86\xD0\xB8\xD1\x8F!";

TEST_F(ReportProgramTest, AnsweredReportPrintsTheDialogsTextDataAndStatusAndExitsZero)
{
    platform.responder = AnswersAfter(20, "A0.00");
    EXPECT_EQ(Run({"x-report"}), 0);
    EXPECT_EQ(platform.opened, std::vector<std::string>{"COM1"});
    EXPECT_EQ(Sent(), "3");
    EXPECT_EQ(platform.out, std::string(kAnswer69Utf8) + "\ndata: \"A0.00\"\nstatus: 80 81 82 83 84 85\n");
    EXPECT_EQ(platform.err, "");
}

TEST_F(ReportProgramTest, OperationByIndexAndRangeDefaultsAreTheDialogs)
{
    platform.responder = AnswersAfter(20);
    EXPECT_EQ(Run({"--port", "COM3", "0"}), 0);
    EXPECT_EQ(platform.opened.back(), "COM3");
    EXPECT_EQ(Sent(), "020402,020403");
    EXPECT_EQ(Run({"fm-short-by-number"}), 0);
    EXPECT_EQ(Sent(), "0001,0020");
}

TEST_F(ReportProgramTest, RefusedRangesGiveTheRowsOwnMessageAndOpenNothing)
{
    EXPECT_EQ(Run({"fm-by-number", "1", "20"}), 3);
    EXPECT_NE(platform.err.find("(\xD0\xBD\xD0\xB5\xD0\xB7"), std::string::npos);
    EXPECT_NE(platform.err.find(" ) !"), std::string::npos);   // row 5 closes the parenthesis
    platform.err.clear();
    EXPECT_EQ(Run({"10", "1", "20"}), 3);
    EXPECT_EQ(platform.err.find(" ) !"), std::string::npos);   // row 10 does not
    EXPECT_NE(platform.err.find(" !"), std::string::npos);
    EXPECT_EQ(Run({"tax-rates", "02040", "020403"}), 3);
    // The dialog's fields hold six digits at most and only digits.
    EXPECT_EQ(Run({"fm-by-date", "0204021", "02040"}), 3);
    EXPECT_EQ(Run({"fm-by-number", "00a1", "0020"}), 3);
    EXPECT_EQ(Run({"fm-by-number", "0001", "00,2"}), 3);
    EXPECT_TRUE(platform.opened.empty());
}

TEST_F(ReportProgramTest, UnknownOperationGivesTheNoOperationMessage)
{
    EXPECT_EQ(Run({"y-report"}), 4);
    EXPECT_NE(platform.err.find(kNoSuchFunctionUtf8), std::string::npos);
    EXPECT_EQ(Run({"11"}), 4);
    EXPECT_TRUE(platform.opened.empty());
}

TEST_F(ReportProgramTest, BadArgumentsAreUsageErrors)
{
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"--bogus", "x-report"}), 2);
    EXPECT_EQ(Run({"fm-by-date", "020402"}), 2);
    EXPECT_EQ(Run({"z-report", "1", "2"}), 2);   // a range for an operation that takes none
    EXPECT_EQ(Run({"--timeout-ms", "soon", "z-report"}), 2);
    EXPECT_NE(platform.err.find("--help"), std::string::npos);
    EXPECT_TRUE(platform.opened.empty());
}

TEST_F(ReportProgramTest, PortThatCannotBeOpenedOrSetUp)
{
    platform.openStatus = OpenStatus::CannotOpen;
    EXPECT_EQ(Run({"x-report"}), 5);
    EXPECT_NE(platform.err.find("cannot open COM1"), std::string::npos);
    platform.openStatus = OpenStatus::CannotSetState;
    EXPECT_EQ(Run({"x-report"}), 5);
    platform.openStatus = OpenStatus::CannotReadState;
    EXPECT_EQ(Run({"x-report"}), 5);
    platform.openStatus = OpenStatus::BadName;
    EXPECT_EQ(Run({"--port", "COM9", "x-report"}), 2);
}

TEST_F(ReportProgramTest, SilentPrinterGetsTheSameBytesAgainThenExitsSixSayingItMayHaveRun)
{
    EXPECT_EQ(Run({"--retries", "2", "z-report"}), 6);
    EXPECT_EQ(platform.out, "");
    // "Принтерът не отговаря!"
    EXPECT_NE(platform.err.find("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80\xD1\x8A\xD1\x82"),
              std::string::npos);
    EXPECT_NE(platform.err.find("sent 3 times without a usable answer: the printer may have run it"), std::string::npos);
    // The status request, then three identical tries of the report.
    const std::vector<std::uint8_t> status{0x01, 0x24, 0x21, 0x4A, 0x05, 0x30, 0x30, 0x39, 0x34, 0x03};
    const std::vector<std::uint8_t> report{0x01, 0x25, 0x22, 0x45, 0x31, 0x05, 0x30, 0x30, 0x3C, 0x32, 0x03};
    std::vector<std::uint8_t> expected = status;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), report.begin(), report.end());
    EXPECT_EQ(*platform.written, expected);
}

TEST_F(ReportProgramTest, ALostAnswerIsRecoveredBySendingTheSameBytesAndTheReportRunsOnce)
{
    // A printer with memory that loses its first answer to the report.
    int ran = 0;
    std::vector<std::uint8_t> last;
    platform.responder = [&](FakeLine& l, std::span<const std::uint8_t> request) {
        const std::vector<std::uint8_t> bytes(request.begin(), request.end());
        const bool repeat = bytes == last;
        last = bytes;
        if (!repeat) {
            ++ran;
            return;   // ran it; the answer is lost on the line
        }
        l.Send(10, Response(request[3], "1,0.00", request[2]));
    };
    EXPECT_EQ(Run({"--json", "z-report"}), 0);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(OutcomeOf(platform.out), "ok");
    EXPECT_NE(platform.out.find("\"sent\":true,\"resent\":1,\"status_sequence\":\"0x21\""), std::string::npos);
    EXPECT_EQ(platform.err, "") << "a recovered answer is no failure";
}

// A printer with memory answers a request that repeats its last sequence
// byte from memory. Whatever byte it took last, the report runs exactly once.
TEST_F(ReportProgramTest, EveryLastByteOfThePrinterGivesExactlyOneRun)
{
    for (int last = 0x20; last <= 0x7F; ++last) {
        for (int start = 0; start < 94; start += 31) {
            std::uint8_t lastByte = static_cast<std::uint8_t>(last);
            int zReports = 0;
            platform.answersStatus = false;
            platform.responder = [&](FakeLine& l, std::span<const std::uint8_t> r) {
                if (r[2] != lastByte) {
                    lastByte = r[2];
                    zReports += r[3] == 69 ? 1 : 0;
                }
                l.Send(5, Response(r[3], "", r[2]));
            };
            platform.firstSequence = start + last;   // the status request's byte meets every last byte
            ASSERT_EQ(Run({"z-report"}), 0) << last;
            ASSERT_EQ(zReports, 1) << "last byte 0x" << std::hex << last;
        }
    }
}

TEST_F(ReportProgramTest, FindLooksAtEachSpeedWithTheStatusRequestAloneAndNamesThePrinter)
{
    // A printer set to 115200 on COM3; nothing behind COM12.
    std::vector<int> commands;
    platform.answersStatus = false;
    platform.responder = [&](FakeLine& l, std::span<const std::uint8_t> r) {
        commands.push_back(r[3]);
        if (platform.opened.back() == "COM3" && platform.lastBaud == 115200)
            l.Send(5, Response(r[3], "", r[2]));
    };
    platform.ports = {{"COM3", "", "", ""}, {"COM12", "", "", ""}};
    EXPECT_EQ(Run({"--find"}), 0);
    EXPECT_EQ(platform.out, "COM3\t115200\t80 81 82 83 84 85\n");
    EXPECT_EQ(platform.opened.size(), 10u) << "five speeds on each port";
    EXPECT_EQ(std::count(commands.begin(), commands.end(), 74), static_cast<long>(commands.size()))
        << "nothing but the status request";
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "--find", "COM12"}), 6);
    EXPECT_EQ(platform.out, "[]\n");
    platform.busyOpens = 1;
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "--find", "COM3"}), 6);
    EXPECT_EQ(platform.out, "[{\"port\":\"COM3\",\"baud\":null,\"status\":null,\"busy\":true}]\n");
}

TEST_F(ReportProgramTest, AStatusRequestNeverAnsweredSendsNoReport)
{
    platform.answersStatus = false;
    EXPECT_EQ(Run({"--json", "--retries", "1", "z-report"}), 6);
    EXPECT_EQ(platform.written->size(), 20u) << "the status request twice, as the same bytes, and nothing else";
    EXPECT_NE(platform.out.find("\"sent\":false,\"resent\":0"), std::string::npos);
    EXPECT_NE(platform.err.find("the status request was sent 2 times without a usable answer, so the report was not sent"),
              std::string::npos);
}

TEST_F(ReportProgramTest, AnEchoOfTheRequestIsSkippedAndNeverTakenForTheAnswer)
{
    // A 13-byte range makes a request as long as an answer frame.
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        l.Send(1, std::vector<std::uint8_t>(request.begin(), request.end()));
    };
    EXPECT_EQ(Run({"--json", "--retries", "0", "fm-by-date"}), 6);
    EXPECT_EQ(OutcomeOf(platform.out), "no-answer");
    EXPECT_NE(platform.err.find("that echo is not an answer"), std::string::npos);
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        l.Send(1, std::vector<std::uint8_t>(request.begin(), request.end()));
        l.Send(30, Response(request[3], "DATA", request[2]));
    };
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "fm-by-date"}), 0);
    EXPECT_NE(platform.out.find("\"data\":\"DATA\""), std::string::npos);
}

TEST_F(ReportProgramTest, AnAnswerStillArrivingAtTheEndOfThePeriodIsWaitedFor)
{
    // 212 data bytes, one a millisecond, begun 300 ms after the request.
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        l.Send(300, Response(request[3], std::string(212, '7'), request[2]), 1);
    };
    EXPECT_EQ(Run({"--retries", "0", "z-report"}), 0);
    platform.err.clear();
    EXPECT_EQ(Run({"--retries", "0", "--timeout-ms", "400", "z-report"}), 6);
    EXPECT_NE(platform.err.find("unusable answer: cut off"), std::string::npos) << platform.err;
}

TEST_F(ReportProgramTest, EndlessSynEndsAtTheTotalBound)
{
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t>) {
        for (int t = 100; t < 200'000; t += 100)
            l.Send(t, {0x16});
    };
    EXPECT_EQ(Run({"--retries", "0", "--timeout-ms", "5000", "z-report"}), 6);
    EXPECT_NE(platform.err.find("5000 ms"), std::string::npos);
    EXPECT_LT(platform.clock.now, 1000 + 5200);
}

TEST_F(ReportProgramTest, TaxRateErrorAndAnswerToAnotherCommandHaveTheirOwnCodes)
{
    platform.responder = AnswersAfter(10, "F");
    EXPECT_EQ(Run({"tax-rates"}), 7);
    EXPECT_NE(platform.out.find("data: \"F\""), std::string::npos);
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> r) { l.Send(10, Response(0xC5, "P", r[2])); };
    EXPECT_EQ(Run({"x-report"}), 8);
    EXPECT_NE(platform.err.find("quillon-report: answer to another command: command 197, not 69\n"), std::string::npos);
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> r) { l.Send(10, Response(44, "", r[2])); };
    EXPECT_EQ(Run({"x-report"}), 8);
}

TEST_F(ReportProgramTest, JsonIsOneObjectWithTheAnswer)
{
    platform.responder = AnswersAfter(10, "A\"1");
    EXPECT_EQ(Run({"--json", "x-report"}), 0);
    EXPECT_EQ(platform.out,
              "{\"operation\":\"x-report\",\"index\":3,\"port\":\"COM1\",\"command\":69,\"request\":\"3\","
              "\"sequence\":\"0x22\",\"sent\":true,\"resent\":0,\"status_sequence\":\"0x21\","
              "\"answered_command\":69,\"answer_sequence\":\"0x22\",\"data\":\"A\\\\\\\"1\","
              "\"status\":[\"80\",\"81\",\"82\",\"83\",\"84\",\"85\"],\"answer\":\"" +
                  std::string(kAnswer69Utf8) + "\",\"outcome\":\"ok\",\"exit_code\":0,\"elapsed_ms\":15}\n");
}

TEST_F(ReportProgramTest, JsonOfAFailureNamesTheOutcome)
{
    EXPECT_EQ(Run({"--json", "z-report"}), 6);
    EXPECT_NE(platform.out.find("\"answered_command\":null"), std::string::npos);
    EXPECT_NE(platform.out.find("\"outcome\":\"no-answer\",\"exit_code\":6"), std::string::npos);
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "nothing"}), 4);
    EXPECT_EQ(platform.out, "{\"operation\":\"nothing\",\"outcome\":\"unknown-operation\",\"exit_code\":4,"
                            "\"message\":\"unknown operation \\\"nothing\\\": --list shows them (" +
                                std::string(kNoSuchFunctionUtf8) + ")\"}\n");
}

TEST_F(ReportProgramTest, DryRunPrintsTheFrameAndOpensNothing)
{
    EXPECT_EQ(Run({"--dry-run", "fm-by-date"}), 0);
    EXPECT_TRUE(platform.opened.empty());
    EXPECT_EQ(platform.out, "fm-by-date (6): command 94, data \"020402,020403\"\n"
                            "TX 01 31 22 5E 30 32 30 34 30 32 2C 30 32 30 34 30 33 05 30 33 33 33 03 | cmd=94 "
                            "seq=0x22 data=\"020402,020403\"\n");
    platform.out.clear();
    EXPECT_EQ(Run({"--dry-run", "--json", "z-report"}), 0);
    EXPECT_NE(platform.out.find("\"frame\":\"01 25 22 45 31 05 30 30 3C 32 03\""), std::string::npos);
}

TEST_F(ReportProgramTest, TracePrintsBothDirectionsOnStandardError)
{
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        l.Send(5, {0x16});
        l.Send(10, Response(request[3], "P", request[2]));
    };
    EXPECT_EQ(Run({"--trace", "z-report"}), 0);
    EXPECT_EQ(platform.err.substr(0, 43), "TX 01 24 21 4A 05 30 30 39 34 03 | cmd=74 s");
    EXPECT_NE(platform.err.find("\nTX 01 25 22 45 31 05 30 30 3C 32 03 | cmd=69 s"), std::string::npos);
    EXPECT_NE(platform.err.find("\nRX SYN 16\n"), std::string::npos);
    EXPECT_NE(platform.err.find("| cmd=69 seq=0x22 data=\"P\" status=80 81 82 83 84 85\n"), std::string::npos);
}

TEST_F(ReportProgramTest, ListHelpAndVersion)
{
    EXPECT_EQ(Run({"--list"}), 0);
    EXPECT_EQ(std::count(platform.out.begin(), platform.out.end(), '\n'), 11);
    EXPECT_NE(platform.out.find(" 3  x-report            none    "), std::string::npos);
    EXPECT_NE(platform.out.find(" 5  fm-by-number        number  0001 0020      "), std::string::npos);
    EXPECT_NE(platform.out.find("10  fm-short-by-number  number  "), std::string::npos);
    platform.out.clear();
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(platform.out.find("COM1 to COM256 (default COM1)"), std::string::npos);
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 130})
        EXPECT_NE(platform.out.find("  " + std::to_string(code) + "  "), std::string::npos) << code;
    platform.out.clear();
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(platform.out.substr(0, 15), "quillon-report ");
    // With --json, both are one object.
    platform.out.clear();
    EXPECT_EQ(Run({"--help", "--json"}), 0);
    EXPECT_EQ(platform.out.rfind("{\"usage\":\"Usage: quillon-report [--port PORT]", 0), 0u);
    EXPECT_NE(platform.out.find("COM1 to COM256 (default COM1)\\u000a"), std::string::npos);
    EXPECT_EQ(platform.out.substr(platform.out.size() - 3), "\"}\n");
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "--version"}), 0);
    EXPECT_EQ(platform.out.rfind("{\"program\":\"quillon-report\",\"version\":\"1.", 0), 0u);
    EXPECT_EQ(platform.out.substr(platform.out.size() - 3), "\"}\n");
}


TEST_F(ReportProgramTest, EachWayAWaitFailsHasItsOwnOutcomeWithExitSix)
{
    struct Case {
        const char* outcome;
        FakeLine::Responder printer;
        const char* message;
    };
    const auto answerWith = [](auto damage) {
        return [damage](FakeLine& l, std::span<const std::uint8_t> request) {
            std::vector<std::uint8_t> bytes = Response(request[3], "P", request[2]);
            damage(bytes);
            l.Send(10, bytes);
        };
    };
    const std::vector<Case> cases{
        {"no-answer", nullptr, "no answer: nothing within 500 ms of the request ("},
        {"nak", [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, {0x15}); }, "request refused: the printer sent NAK"},
        {"bad-frame", [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, {0x01, 0x10}); },
         "unusable answer: length byte 0x10 describes no frame"},
        {"bad-frame", answerWith([](std::vector<std::uint8_t>& b) { b[b.size() - 2] ^= 1; }),
         "damaged answer: wrong checksum"},
        {"bad-frame", answerWith([](std::vector<std::uint8_t>& b) { b.back() = 0x04; }), "damaged answer: no 0x03 at the end"},
        {"stale-answer", [](FakeLine& l, std::span<const std::uint8_t> r) { l.Send(10, Response(r[3], "P", 0x20)); },
         "stale answer: sequence byte 0x20, the request's is 0x22"},
    };
    for (const Case& c : cases) {
        platform.responder = c.printer;
        platform.out.clear();
        platform.err.clear();
        platform.files.clear();
        EXPECT_EQ(Run({"--json", "--retries", "0", "z-report"}), 6) << c.outcome;
        EXPECT_EQ(OutcomeOf(platform.out), c.outcome);
        EXPECT_EQ(platform.err.rfind(std::string("quillon-report: ") + c.message, 0), 0u) << platform.err;
    }
}

TEST_F(ReportProgramTest, SynPastTheBoundIsSynLimitButABoundBelowOnePeriodIsNoAnswer)
{
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t>) {
        for (int t = 100; t < 20'000; t += 100)
            l.Send(t, {0x16});
    };
    EXPECT_EQ(Run({"--json", "--timeout-ms", "1500", "z-report"}), 6);
    EXPECT_EQ(OutcomeOf(platform.out), "syn-limit");
    platform.responder = nullptr;
    platform.err.clear();
    EXPECT_EQ(Run({"--json", "--retries", "0", "--timeout-ms", "100", "z-report"}), 6);
    EXPECT_EQ(OutcomeOf(platform.out), "no-answer");
    EXPECT_EQ(platform.err, "quillon-report: no answer: nothing within 100 ms (--timeout-ms); the report was sent 1 time "
                            "without a usable answer: the printer may have run it, so check its journal before running it "
                            "again\n");
}

TEST_F(ReportProgramTest, BusyPortGivesNineUnlessItIsFreedWithinTheWait)
{
    platform.responder = AnswersAfter(10);
    platform.busyOpens = 1000;
    EXPECT_EQ(Run({"x-report"}), 9);
    EXPECT_EQ(platform.err, "quillon-report: port busy: the system's reason (--wait-port SECONDS waits for it)\n");
    EXPECT_EQ(Run({"--wait-port", "2", "x-report"}), 9);
    EXPECT_NE(platform.err.find("(waited 2 s)"), std::string::npos);
    platform.busyOpens = 3;
    platform.opened.clear();
    EXPECT_EQ(Run({"--wait-port", "2", "x-report"}), 0);
    EXPECT_EQ(platform.opened.size(), 4u);
}

TEST_F(ReportProgramTest, SecondStopDuringTheWaitEndsWithTheFirstSignalsCode)
{
    platform.responder = [this](FakeLine& l, std::span<const std::uint8_t>) {
        l.Send(100, {0x16});
        platform.stopCode = 143;
        platform.stopCount = 2;
    };
    EXPECT_EQ(Run({"--json", "z-report"}), 143);
    EXPECT_EQ(OutcomeOf(platform.out), "interrupted");
    EXPECT_NE(platform.out.find("\"exit_code\":143"), std::string::npos);
}

TEST_F(ReportProgramTest, LostOutputIsAFailure)
{
    platform.responder = AnswersAfter(10);
    platform.outputWorks = false;
    EXPECT_EQ(Run({"x-report"}), 10);
    EXPECT_NE(platform.err.find("quillon-report: cannot write the output: No space left on device"), std::string::npos);
    EXPECT_EQ(Run({"--list"}), 10);
}

TEST_F(ReportProgramTest, EveryJsonRunPrintsJsonAndListsAreArrays)
{
    EXPECT_EQ(Run({"--json", "--frobnicate", "z-report"}), 2);
    EXPECT_EQ(platform.out.rfind("{\"outcome\":\"usage\",\"exit_code\":2,\"message\":\"bad usage: unknown option", 0), 0u);
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "--list"}), 0);
    EXPECT_EQ(platform.out.substr(0, 2), "[{");
    EXPECT_EQ(std::count(platform.out.begin(), platform.out.end(), '{'), 11);
    EXPECT_NE(platform.out.find("{\"index\":3,\"name\":\"x-report\",\"range\":\"none\",\"default_range\":\"-\",\"command\":69,"),
              std::string::npos);
    platform.ports = {{"COM3", "USB Serial Port (COM3)", "0403:6001", ""}, {"COM12", "", "", ""}};
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "--ports"}), 0);
    EXPECT_EQ(platform.out, "[{\"name\":\"COM3\",\"description\":\"USB Serial Port (COM3)\",\"usb\":\"0403:6001\","
                            "\"by_id\":null},{\"name\":\"COM12\",\"description\":\"\",\"usb\":null,\"by_id\":null}]\n");
    platform.out.clear();
    EXPECT_EQ(Run({"--ports"}), 0);
    EXPECT_EQ(platform.out, "COM3\tUSB Serial Port (COM3)\t0403:6001\nCOM12\t\t\n");
    // Even a failure nobody foresaw answers in JSON.
    platform.outOfMemory = true;
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "--ports"}), 1);
    EXPECT_EQ(OutcomeOf(platform.out), "unexpected");
    // An argument that is not UTF-8 is escaped, so that the output stays JSON.
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "z\xFF"}), 4);
    EXPECT_NE(platform.out.find("\"operation\":\"z\\\\xFF\""), std::string::npos);
}

TEST_F(ReportProgramTest, RangesThatCannotBeMeantAreRefusedBeforeThePortIsOpened)
{
    EXPECT_EQ(Run({"fm-by-date", "320126", "010226"}), 3);
    EXPECT_EQ(platform.err, "quillon-report: range refused: 320126 is not a date (DDMMYY)\n");
    EXPECT_EQ(Run({"tax-rates", "290223", "010323"}), 3);   // 2023 is no leap year
    EXPECT_EQ(Run({"fm-short-by-date", "310126", "010126"}), 3);
    EXPECT_NE(platform.err.find("FROM 310126 is after TO 010126"), std::string::npos);
    EXPECT_EQ(Run({"fm-by-number", "0020", "0001"}), 3);
    // The dialog takes any split of its nine characters; a script's ends are four digits each.
    platform.err.clear();
    EXPECT_EQ(Run({"fm-by-number", "12", "000020"}), 3);
    EXPECT_EQ(platform.err, "quillon-report: range refused: FROM and TO must be exactly 4 digits each, as 0001; "
                            "given 12 and 000020\n");
    EXPECT_EQ(Run({"fm-short-by-number", "00001", "020"}), 3);
    EXPECT_TRUE(platform.opened.empty());
    platform.responder = AnswersAfter(10);
    EXPECT_EQ(Run({"tax-rates", "290224", "010324"}), 0);
}

TEST_F(ReportProgramTest, StatusRequestThenTheReportOneByteOnWhateverTheStatusAnswerNames)
{
    // A printer answering the status request from memory, with another command.
    platform.answersStatus = false;
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> r) {
        l.Send(10, Response(r[3] == 74 ? 69 : r[3], "old", r[2]));
    };
    EXPECT_EQ(Run({"--json", "--state-dir", "ignored", "z-report"}), 0);
    EXPECT_EQ((*platform.written)[2], 0x21);
    EXPECT_EQ((*platform.written)[12], 0x22);
    EXPECT_NE(platform.out.find("\"sequence\":\"0x22\""), std::string::npos);
}

TEST_F(ReportProgramTest, AStopBeforeTheReportIsWrittenSendsNothingAndAfterItWaitsForTheAnswer)
{
    platform.answersStatus = false;
    platform.responder = [this](FakeLine& l, std::span<const std::uint8_t> r) {
        if (r[3] == 74)
            platform.stopCode = 130;   // during the status request
        l.Send(10, Response(r[3], "P", r[2]));
    };
    EXPECT_EQ(Run({"--json", "z-report"}), 130);
    EXPECT_EQ(platform.written->size(), 10u) << "only the status request went out";
    EXPECT_NE(platform.out.find("\"sent\":false"), std::string::npos);

    platform.stopCode = 0;
    platform.answersStatus = true;
    platform.responder = [this](FakeLine& l, std::span<const std::uint8_t> r) {
        platform.stopCode = 143;   // just after the report's bytes went out
        l.Send(200, Response(r[3], "DONE", r[2]));
    };
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "z-report"}), 143);
    EXPECT_EQ(OutcomeOf(platform.out), "interrupted");
    EXPECT_NE(platform.out.find("\"sent\":true"), std::string::npos);
    EXPECT_NE(platform.out.find("\"data\":\"DONE\""), std::string::npos) << "the answer was waited for";

    // The stop comes while the first try's answer is lost: the same bytes go
    // out again and the answer from memory makes the outcome known.
    int tries = 0;
    platform.stopCode = 0;
    platform.responder = [&](FakeLine& l, std::span<const std::uint8_t> r) {
        platform.stopCode = 130;
        if (++tries > 1)
            l.Send(10, Response(r[3], "MEMORY", r[2]));
    };
    platform.out.clear();
    platform.err.clear();
    EXPECT_EQ(Run({"--json", "z-report"}), 130);
    EXPECT_NE(platform.out.find("\"sent\":true,\"resent\":1"), std::string::npos);
    EXPECT_NE(platform.out.find("\"data\":\"MEMORY\""), std::string::npos);
    EXPECT_NE(platform.err.find("; the printer answered"), std::string::npos);
}

TEST_F(ReportProgramTest, LogGetsOneLinePerRun)
{
    platform.responder = AnswersAfter(10, "1,0.00");
    EXPECT_EQ(Run({"--log", "z.log", "z-report"}), 0);
    platform.responder = nullptr;
    EXPECT_EQ(Run({"--log", "z.log", "--port", "COM3", "x-report"}), 6);
    EXPECT_EQ(Run({"--log", "z.log", "fm-by-date", "320126", "010226"}), 3);
    EXPECT_EQ(platform.files["z.log"],
              "2026-12-09 21:30:02\tz-report\tCOM1\tok\t0\t15\tsent\t0\t80 81 82 83 84 85\t\"1,0.00\"\n"
              "2026-12-09 21:30:02\tx-report\tCOM3\tno-answer\t6\t2085\tsent\t3\t80 81 82 83 84 85\t\n"
              "2026-12-09 21:30:02\tfm-by-date\tCOM1\trange-refused\t3\t0\tnot-sent\t0\t\t\n");
    // A field never splits the line: a tab and a byte that is not UTF-8.
    platform.files["z.log"].clear();
    EXPECT_EQ(Run({"--log", "z.log", "z\t\xFF"}), 4);
    EXPECT_EQ(platform.files["z.log"].substr(20, 10), "z\\x09\\xFF\t");
    // A line that cannot be written at the end: exit 10, the answer still printed.
    platform.logFull = true;
    platform.responder = AnswersAfter(10, "1,0.00");
    platform.out.clear();
    EXPECT_EQ(Run({"--log", "z.log", "z-report"}), 10);
    EXPECT_NE(platform.out.find("data: \"1,0.00\""), std::string::npos);
    platform.logFull = false;
    // A log that cannot be written stops the run before the port is touched.
    platform.readOnly = true;
    platform.opened.clear();
    EXPECT_EQ(Run({"--log", "/var/log/z.log", "z-report"}), 10);
    EXPECT_TRUE(platform.opened.empty());
}

}  // namespace
}  // namespace quillon::report
