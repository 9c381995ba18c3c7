#include "tool/report/report_program.h"

#include <gtest/gtest.h>

#include "report_fakes.h"

namespace quillon::report {
namespace {

using testing::AnswersAfter;
using testing::FakeClock;
using testing::FakeLine;
using testing::Response;

// The platform of a test: one fake line behind every port, recorded output.
class FakePlatform : public ReportPlatform {
public:
    std::int64_t NowMs() override { return clock.NowMs(); }
    std::string DefaultPort() const override { return "COM1"; }
    std::string_view PortHelp() const override { return "COM1 to COM4"; }
    std::unique_ptr<SerialLine> OpenLine(const std::string& port, OpenStatus& status) override
    {
        opened.push_back(port);
        status = openStatus;
        if (status != OpenStatus::Opened)
            return nullptr;
        auto line = std::make_unique<FakeLine>(clock);
        line->responder = responder;
        written = &line->written;
        lines.push_back(std::move(line));
        return std::make_unique<Borrowed>(*lines.back());
    }
    void WriteOut(std::string_view text) override { out += text; }
    void WriteErr(std::string_view text) override { err += text; }

    FakeClock clock;
    FakeLine::Responder responder;
    OpenStatus openStatus = OpenStatus::Opened;
    std::vector<std::string> opened;
    std::vector<std::unique_ptr<FakeLine>> lines;   // kept for inspection after the run
    std::vector<std::uint8_t>* written = nullptr;
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
    std::string Sent() const
    {
        if (!platform.written)
            return {};
        const auto& w = *platform.written;
        return std::string(w.begin() + 4, w.end() - 6);   // the data text
    }

    FakePlatform platform;
};

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
    EXPECT_EQ(Run({"fm-by-number", "12345", "678"}), 0);   // lengths 5 and 3 pass, as in the dialog
    EXPECT_EQ(Sent(), "12345,678");
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

TEST_F(ReportProgramTest, SilentPrinterExitsSixWithinOnePeriod)
{
    EXPECT_EQ(Run({"z-report"}), 6);
    EXPECT_EQ(platform.out, "");
    // "Принтерът не отговаря!"
    EXPECT_NE(platform.err.find("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80\xD1\x8A\xD1\x82"),
              std::string::npos);
    EXPECT_LT(platform.clock.now, 1000 + 600);
}

TEST_F(ReportProgramTest, EndlessSynEndsAtTheTotalBound)
{
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t>) {
        for (int t = 100; t < 200'000; t += 100)
            l.Send(t, {0x16});
    };
    EXPECT_EQ(Run({"--timeout-ms", "5000", "z-report"}), 6);
    EXPECT_NE(platform.err.find("5000 ms"), std::string::npos);
    EXPECT_LT(platform.clock.now, 1000 + 5200);
}

TEST_F(ReportProgramTest, TaxRateErrorAndAnswerToAnotherCommandHaveTheirOwnCodes)
{
    platform.responder = AnswersAfter(10, "F");
    EXPECT_EQ(Run({"tax-rates"}), 7);
    EXPECT_NE(platform.out.find("data: \"F\""), std::string::npos);
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, Response(0xC5, "P")); };
    EXPECT_EQ(Run({"x-report"}), 8);
    EXPECT_NE(platform.err.find("answer to command 197, not to 69"), std::string::npos);
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t>) { l.Send(10, Response(44, "")); };
    EXPECT_EQ(Run({"x-report"}), 8);
}

TEST_F(ReportProgramTest, JsonIsOneObjectWithTheAnswer)
{
    platform.responder = AnswersAfter(10, "A\"1");
    EXPECT_EQ(Run({"--json", "x-report"}), 0);
    EXPECT_EQ(platform.out,
              "{\"operation\":\"x-report\",\"index\":3,\"port\":\"COM1\",\"command\":69,\"request\":\"3\","
              "\"sequence\":\"0x21\",\"answered_command\":69,\"answer_sequence\":\"0x21\",\"data\":\"A\\\\\\\"1\","
              "\"status\":[\"80\",\"81\",\"82\",\"83\",\"84\",\"85\"],\"answer\":\"" +
                  std::string(kAnswer69Utf8) + "\",\"outcome\":\"ok\",\"exit_code\":0,\"elapsed_ms\":10}\n");
}

TEST_F(ReportProgramTest, JsonOfAFailureNamesTheOutcome)
{
    EXPECT_EQ(Run({"--json", "z-report"}), 6);
    EXPECT_NE(platform.out.find("\"answered_command\":null"), std::string::npos);
    EXPECT_NE(platform.out.find("\"outcome\":\"not-answering\",\"exit_code\":6"), std::string::npos);
    platform.out.clear();
    EXPECT_EQ(Run({"--json", "nothing"}), 4);
    EXPECT_EQ(platform.out, "{\"operation\":\"nothing\",\"outcome\":\"unknown-operation\",\"exit_code\":4,\"message\":\"" +
                                std::string(kNoSuchFunctionUtf8) + "\"}\n");
}

TEST_F(ReportProgramTest, DryRunPrintsTheFrameAndOpensNothing)
{
    EXPECT_EQ(Run({"--dry-run", "fm-by-date"}), 0);
    EXPECT_TRUE(platform.opened.empty());
    EXPECT_EQ(platform.out, "fm-by-date (6): command 94, data \"020402,020403\"\n"
                            "TX 01 31 21 5E 30 32 30 34 30 32 2C 30 32 30 34 30 33 05 30 33 33 32 03 | cmd=94 "
                            "seq=0x21 data=\"020402,020403\"\n");
    platform.out.clear();
    EXPECT_EQ(Run({"--dry-run", "--json", "z-report"}), 0);
    EXPECT_NE(platform.out.find("\"frame\":\"01 25 21 45 31 05 30 30 3C 31 03\""), std::string::npos);
}

TEST_F(ReportProgramTest, TracePrintsBothDirectionsOnStandardError)
{
    platform.responder = [](FakeLine& l, std::span<const std::uint8_t> request) {
        l.Send(5, {0x16});
        l.Send(10, Response(request[3], "P"));
    };
    EXPECT_EQ(Run({"--trace", "z-report"}), 0);
    EXPECT_EQ(platform.err.substr(0, 46), "TX 01 25 21 45 31 05 30 30 3C 31 03 | cmd=69 s");
    EXPECT_NE(platform.err.find("\nRX SYN 16\n"), std::string::npos);
    EXPECT_NE(platform.err.find("| cmd=69 seq=0x21 data=\"P\" status=80 81 82 83 84 85\n"), std::string::npos);
}

TEST_F(ReportProgramTest, ListHelpAndVersion)
{
    EXPECT_EQ(Run({"--list"}), 0);
    EXPECT_EQ(std::count(platform.out.begin(), platform.out.end(), '\n'), 11);
    EXPECT_NE(platform.out.find(" 3  x-report            none    "), std::string::npos);
    EXPECT_NE(platform.out.find(" 5  fm-by-number        number  "), std::string::npos);
    EXPECT_NE(platform.out.find("10  fm-short-by-number  number  "), std::string::npos);
    platform.out.clear();
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(platform.out.find("COM1 to COM4 (default COM1)"), std::string::npos);
    for (int code = 0; code <= 8; ++code)
        EXPECT_NE(platform.out.find("  " + std::to_string(code) + "  "), std::string::npos) << code;
    platform.out.clear();
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(platform.out.substr(0, 15), "quillon-report ");
}

}  // namespace
}  // namespace quillon::report
