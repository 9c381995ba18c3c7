// Runs the real printer-sim program on a pty, as the Wine bed and ./run do.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "response_builder.h"
#include "sim_test_bytes.h"

extern char** environ;

namespace quillon::sim {
namespace {

namespace fs = std::filesystem;
using test::Hex;
constexpr auto kPatience = std::chrono::seconds(10);

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args)
    {
        args.insert(args.begin(), PRINTER_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~SimProcess() { Stop(); }

    // SIGTERM, then the exit status (-1 when it did not end normally).
    int Stop()
    {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
        return Wait();
    }

    int Wait()
    {
        if (m_pid <= 0)
            return -1;
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool Started() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

bool WaitFor(const std::function<bool()>& done)
{
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Reads until count bytes arrived or the patience runs out.
std::vector<std::uint8_t> ReadBytes(int fd, std::size_t count)
{
    std::vector<std::uint8_t> got;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (got.size() < count && std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        std::uint8_t buffer[256];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

class PrinterSimProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/printer-sim-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        link = dir / "COM1";
        trace = dir / "trace.log";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string TraceText() const
    {
        std::ifstream in(trace);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir, link, trace;
};

TEST_F(PrinterSimProgram, AnswersOverThePtyAcrossReopensAndCleansUp)
{
    // An old link, as the Wine bed leaves it, is replaced.
    fs::create_symlink("/nonexistent", link);
    SimProcess sim({"--link", link.string(), "--trace", trace.string()});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(WaitFor([&] { return fs::read_symlink(link).string().starts_with("/dev/pts/"); }));

    const auto expected69 = BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    const auto expected44 = BuildResponse(44, 0x21, test::Bytes(AnswerData(44, {}, false))).bytes;
    for (int round = 0; round < 3; ++round) {
        const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0) << "round " << round;
        const auto request = Hex(round % 2 ? test::kRequest44 : test::kRequest69);
        ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        const auto& expected = round % 2 ? expected44 : expected69;
        EXPECT_EQ(ReadBytes(fd, expected.size()), expected) << "round " << round;
        close(fd);
    }

    ASSERT_TRUE(WaitFor([&] { return TraceText().find("cmd=44 seq=0x21 data=\"P\" checksum=good") != std::string::npos; }));
    const std::string text = TraceText();
    EXPECT_NE(text.find(" RX 01 25 21 45 31 05 30 30 3C 31 03 | cmd=69 seq=0x21 data=\"1\" checksum=good\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find(" TX 01 2C 21 2C 50 04"), std::string::npos) << text;

    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(fs::is_symlink(link));
}

TEST_F(PrinterSimProgram, RepeatMemoryOutlivesTheClientReopeningThePort)
{
    SimProcess sim({"--link", link.string(), "--trace", trace.string(), "--repeat-memory"});
    ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(link); }));
    const auto expected69 = BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    for (const std::string& text : {test::kRequest69, test::kRequest44}) {   // both with sequence 1
        const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
        const auto request = Hex(text);
        ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        EXPECT_EQ(ReadBytes(fd, expected69.size()), expected69) << text;
        close(fd);
    }
    EXPECT_TRUE(WaitFor([&] { return TraceText().ends_with(" fault=from-memory\n"); })) << TraceText();
}

// A second program opens the port twice and closes it while the first waits
// for its answer. inotify merges the two opens into one event, and the closes
// (one read-only, one read-write) stay two: counted, they would leave nobody.
TEST_F(PrinterSimProgram, AnotherClientOpeningAndClosingNeverTakesAWaitingAnswer)
{
    SimProcess sim({"--link", link.string(), "--trace", trace.string(), "--delay", "400"});
    ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(link); }));
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const auto request = Hex(test::kRequest69);
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    ASSERT_TRUE(WaitFor([&] { return TraceText().find(" RX 01 ") != std::string::npos; }));
    for (int round = 0; round < 3; ++round) {
        const int reader = open(link.c_str(), O_RDONLY | O_NOCTTY);
        const int writer = open(link.c_str(), O_RDWR | O_NOCTTY);
        close(reader);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        close(writer);
    }
    const auto expected = BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    EXPECT_EQ(ReadBytes(fd, expected.size()), expected);
    close(fd);
}

// The line echoes, and the first try's answer is lost; the retry of the same
// bytes is answered from memory, and the ran log holds the one run.
TEST_F(PrinterSimProgram, ALostFirstTryRunsOnceAndTheRetryIsAnsweredFromMemory)
{
    const fs::path ranLog = dir / "ran.log";
    SimProcess sim({"--link", link.string(), "--trace", trace.string(), "--repeat-memory", "--echo",
                    "--first-try", "lose", "--ran-log", ranLog.string()});
    ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(link); }));
    const auto request = Hex(test::kRequest69);
    const auto expected = BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    auto echoThenAnswer = request;
    echoThenAnswer.insert(echoThenAnswer.end(), expected.begin(), expected.end());
    for (const auto& reply : {request, echoThenAnswer}) {   // a new client for each try
        const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
        EXPECT_EQ(ReadBytes(fd, reply.size()), reply);
        ASSERT_TRUE(WaitFor([&] { return TraceText().find("FIRST-TRY fault=lose") != std::string::npos; }));
        close(fd);
    }
    std::ifstream in(ranLog);
    std::stringstream ran;
    ran << in.rdbuf();
    EXPECT_EQ(ran.str(), "RUN cmd=69 seq=0x21 data=\"1\"\n");
    EXPECT_TRUE(WaitFor([&] { return TraceText().ends_with(" fault=from-memory\n"); })) << TraceText();
}

TEST_F(PrinterSimProgram, AClientOpeningThePortFindsNoStaleBytes)
{
    // About fifteen unsolicited frames go out while nobody has the port open;
    // the client that opens it then must not receive that backlog.
    SimProcess sim({"--link", link.string(), "--trace", trace.string(), "--unsolicited", "100"});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(link); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::size_t frameSize = BuildResponse(69, 0x20, test::Bytes(AnswerData(69, {}, false))).bytes.size();
    std::vector<std::uint8_t> got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        std::uint8_t buffer[4096];
        if (poll(&p, 1, 50) > 0) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0)
                got.insert(got.end(), buffer, buffer + n);
        }
    }
    close(fd);
    EXPECT_LT(got.size(), 10 * frameSize);
    EXPECT_EQ(sim.Stop(), 0);
}

TEST_F(PrinterSimProgram, AtABaudRateTheAnswerTakesItsWireTimeAndTheTraceTellsFirstAndLastByte)
{
    SimProcess sim({"--link", link.string(), "--trace", trace.string(), "--baud", "9600"});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(WaitFor([&] { return fs::is_symlink(link); }));
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const auto expected = BuildResponse(69, 0x21, test::Bytes(AnswerData(69, test::Bytes("1"), false))).bytes;
    const auto request = Hex(test::kRequest69);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    EXPECT_EQ(ReadBytes(fd, expected.size()), expected);
    const auto tookUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - sent);
    close(fd);

    // The first byte may go at once; each later one a byte time (1042 us)
    // after the one before, so the last cannot arrive sooner than this.
    const long wireUs = static_cast<long>(expected.size() - 1) * 1042;
    EXPECT_GE(tookUs.count(), wireUs);

    ASSERT_TRUE(WaitFor([&] { return TraceText().find(" TX 01 ") != std::string::npos; }));
    const std::string text = TraceText();
    const auto at = text.find(" first=", text.find(" TX 01 "));
    ASSERT_NE(at, std::string::npos) << text;
    long long firstS = 0, firstUs = 0, lastS = 0, lastUs = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at, " first=%lld.%lld last=%lld.%lld", &firstS, &firstUs, &lastS, &lastUs), 4)
        << text;
    const long long spanUs = (lastS - firstS) * 1'000'000 + lastUs - firstUs;
    // A loaded machine wakes the simulator late now and then, which only
    // stretches the frame; a generous upper bound still catches a stalled pacer.
    EXPECT_GE(spanUs, wireUs);
    EXPECT_LT(spanUs, wireUs + 500'000);
    EXPECT_EQ(sim.Stop(), 0);
}

}  // namespace
}  // namespace quillon::sim
