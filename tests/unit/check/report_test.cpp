// orbalin-check's output and inputs: JSON written and read back (the
// sibling's answer is merged this way), the exit code, the command line,
// the PE machine field and where the sibling is looked for.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "server/check/report.h"

namespace orbalin::check {
namespace {

Report Sample(int bits, State state)
{
    Report r;
    r.bits = bits;
    r.state = state;
    r.verdict = std::to_string(bits) + "-bit programs cannot create X: a \"quoted\" C:\\path\tand\x01";
    r.reason = "reason";
    r.fix = "C:\\Windows\\SysWOW64\\regsvr32.exe \"C:\\L\\x86\\Orbalin.dll\"";
    r.facts = {{"progid", "absent"}, {"profile", "C:\\Програми\\W.exe"}};
    return r;
}

TEST(OrbalinCheckReport, JsonReadsBackWhatItWrote)
{
    const std::vector<Report> written = {Sample(32, State::NotChecked), Sample(64, State::Can)};
    const auto read = ParseJson(RenderJson(written));
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ((*read)[i].bits, written[i].bits);
        EXPECT_EQ((*read)[i].state, written[i].state);
        EXPECT_EQ((*read)[i].verdict, written[i].verdict);
        EXPECT_EQ((*read)[i].fix, written[i].fix);
        EXPECT_EQ((*read)[i].facts, written[i].facts);
    }
    EXPECT_TRUE(ParseJson("[]").has_value());
    // What a sibling that crashed or printed something else leaves.
    for (const char* bad : {"", "[", "[{}]", "[{\"bits\":16,\"state\":\"can\",\"verdict\":\"\"}]",
                            "[{\"bits\":32,\"state\":\"maybe\",\"verdict\":\"\"}]", "usage: orbalin-check",
                            "[{\"bits\":32,\"state\":\"can\"}]", "[{\"bits\":32,\"state\":\"can\",\"verdict\":\"x\"}] x"})
        EXPECT_FALSE(ParseJson(bad).has_value()) << bad;
    EXPECT_EQ(ParseJson("[{\"bits\":32,\"state\":\"can\",\"verdict\":\"\\u00e9\"}]")->front().verdict, "\xC3\xA9");
}

TEST(OrbalinCheckReport, ExitCodeIsZeroOnlyWhenEveryAskedBitnessCan)
{
    EXPECT_EQ(ExitCode({Sample(32, State::Can), Sample(64, State::Can)}), 0);
    EXPECT_EQ(ExitCode({Sample(64, State::Can)}), 0);
    EXPECT_EQ(ExitCode({Sample(32, State::NotChecked), Sample(64, State::Can)}), 1);
    EXPECT_EQ(ExitCode({Sample(32, State::Can), Sample(64, State::Cannot)}), 1);
    EXPECT_EQ(ExitCode({}), 1);
    // Commands that cannot reach the register have their own code, below a
    // bitness that cannot create the object at all.
    EXPECT_EQ(ExitCode({Sample(32, State::NoDetector), Sample(64, State::Can)}), kExitNoDetector);
    EXPECT_EQ(ExitCode({Sample(32, State::NoDetector), Sample(64, State::Cannot)}), 1);
    EXPECT_EQ(ParseJson(RenderJson({Sample(64, State::NoDetector)}))->front().state, State::NoDetector);
}

TEST(OrbalinCheckReport, ClientManifestNamesTheAssemblyByNameVersionAndProcessor)
{
    const std::string identity = AssemblyIdentity(
        "<assembly><assemblyIdentity type=\"win32\" name=\"Orbalin\" version=\"1.0.0.2\" "
        "processorArchitecture=\"amd64\"/><file name=\"Orbalin.dll\"/></assembly>");
    EXPECT_EQ(identity, "<assemblyIdentity type=\"win32\" name=\"Orbalin\" version=\"1.0.0.2\" "
                        "processorArchitecture=\"amd64\"/>");
    const std::string client = "<assembly><assemblyIdentity name=\"Till\" version=\"2.0.0.0\"/><dependency>"
                               "<dependentAssembly><assemblyIdentity type=\"win32\" name=\"Orbalin\" "
                               "version=\"1.0.0.2\" processorArchitecture=\"%s\"/></dependentAssembly></dependency>";
    std::string right = client, wrong = client;
    right.replace(right.find("%s"), 2, "amd64");
    wrong.replace(wrong.find("%s"), 2, "x86");
    EXPECT_TRUE(NamesAssembly(right, identity));
    EXPECT_FALSE(NamesAssembly(wrong, identity));
    EXPECT_FALSE(NamesAssembly(right, ""));
}

TEST(OrbalinCheckReport, TextEndsWithOneVerdictLinePerBitness)
{
    const std::string text = RenderText({Sample(32, State::Cannot), Sample(64, State::Can)});
    EXPECT_NE(text.find("  ProgID row: absent\n"), std::string::npos);
    const std::string tail = Sample(32, State::Cannot).verdict + "\n" + Sample(64, State::Can).verdict + "\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(OrbalinCheckReport, CommandLine)
{
    Options o = ParseCommandLine({});
    EXPECT_TRUE(o.want32 && o.want64 && !o.json && o.error.empty());
    o = ParseCommandLine({"--json", "--bits", "32"});
    EXPECT_TRUE(o.json && o.want32 && !o.want64);
    o = ParseCommandLine({"--bits=64"});
    EXPECT_TRUE(!o.want32 && o.want64);
    EXPECT_FALSE(ParseCommandLine({"--bits"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"--bits", "16"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"--fix"}).error.empty());
}

TEST(OrbalinCheckReport, PeMachineFromTheHeader)
{
    std::vector<std::uint8_t> file(0x100, 0);
    file[0] = 'M';
    file[1] = 'Z';
    file[0x3C] = 0x80;
    file[0x80] = 'P';
    file[0x81] = 'E';
    file[0x84] = 0x4C;
    file[0x85] = 0x01;
    EXPECT_EQ(PeMachine(file.data(), file.size()), Machine::X86);
    file[0x84] = 0x64;
    file[0x85] = 0x86;
    EXPECT_EQ(PeMachine(file.data(), file.size()), Machine::X64);
    file[0x84] = 0x64;
    file[0x85] = 0xAA;
    EXPECT_EQ(PeMachine(file.data(), file.size()), Machine::Other);
    EXPECT_EQ(PeMachine(file.data(), 0x84), Machine::NotPe);  // header cut off
    file[0x3C] = 0xF0;  // points past the end of what was read
    EXPECT_EQ(PeMachine(file.data(), 0xF2), Machine::NotPe);
    file[0] = 'X';
    EXPECT_EQ(PeMachine(file.data(), file.size()), Machine::NotPe);
}

TEST(OrbalinCheckReport, SiblingPlaces)
{
    auto places = SiblingPlaces("C:\\Program Files\\Lorvane\\x64", 64);
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[0].program, "C:\\Program Files\\Lorvane\\x86\\orbalin-check.exe");
    EXPECT_EQ(places[0].dll, "C:\\Program Files\\Lorvane\\x86\\Orbalin.dll");
    EXPECT_EQ(places[1].program, "C:\\Program Files\\Lorvane\\x64\\orbalin-check32.exe");
    places = SiblingPlaces("D:\\pos\\X86\\", 32);
    EXPECT_EQ(places[0].program, "D:\\pos\\x64\\orbalin-check.exe");
    // Outside an x86/x64 pair only the suffixed name beside it.
    places = SiblingPlaces("D:\\pos", 64);
    ASSERT_EQ(places.size(), 1u);
    EXPECT_EQ(places[0].program, "D:\\pos\\orbalin-check32.exe");
    EXPECT_EQ(places[0].dll, "D:\\pos\\Orbalin32.dll");
}

}  // namespace
}  // namespace orbalin::check
