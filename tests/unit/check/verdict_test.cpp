// The verdict rules of orbalin-check: each broken state names its own cause
// and the regsvr32 of the right bitness with the right DLL.
#include <gtest/gtest.h>

#include "server/check/verdict.h"

namespace orbalin::check {
namespace {

const Identity kId = BuiltIdentity();

// A 64-bit check where everything is right.
BitnessFacts Healthy(int bits = 64)
{
    BitnessFacts f;
    f.bits = bits;
    f.windows64 = true;
    f.windowsDir = "C:\\Windows";
    const std::string dll = bits == 32 ? "C:\\L\\x86\\Orbalin.dll" : "C:\\L\\x64\\Orbalin.dll";
    const Machine machine = bits == 32 ? Machine::X86 : Machine::X64;
    f.machineRows = {true, kId.clsid, true, kId.clsid, true, dll, "Both", kId.libid};
    f.server = {dll, true, machine, "1.0.0.1"};
    f.shipped = f.server;
    f.typeLibRegistered = true;
    f.typeLibPath = dll;
    f.typeLibPathExists = true;
    f.activationTried = true;
    f.typeLibLoad = {true, 0, ""};
    f.progIdLookup = {true, 0, ""};
    f.progIdLookupClsid = kId.clsid;
    f.create = {true, 0, ""};
    f.checkStatus = {true, 0, ""};
    return f;
}

std::string Line(const BitnessFacts& f) { return VerdictLine(f.bits, Decide(f, kId), kId); }

TEST(OrbalinCheckVerdict, EverythingRightCanCreate)
{
    EXPECT_EQ(Decide(Healthy(), kId).state, State::Can);
    EXPECT_EQ(Line(Healthy()), "64-bit programs can create " + kId.progId);
    EXPECT_EQ(Line(Healthy(32)), "32-bit programs can create " + kId.progId);
}

TEST(OrbalinCheckVerdict, NothingRegisteredNamesTheRegsvr32OfTheBitness)
{
    BitnessFacts f = Healthy(32);
    f.machineRows = {};
    f.server = {};
    f.typeLibRegistered = false;
    f.create = {true, 0x80040154u, "Class not registered"};
    f.progIdLookup = {true, 0x800401F3u, "Invalid class string"};
    EXPECT_EQ(Line(f), "32-bit programs cannot create " + kId.progId + ": " + kId.progId +
                           " is not registered in the 32-bit registry view; fix: "
                           "C:\\Windows\\SysWOW64\\regsvr32.exe \"C:\\L\\x86\\Orbalin.dll\"");
    // On 32-bit Windows the 32-bit regsvr32 is the one in System32.
    f.windows64 = false;
    EXPECT_EQ(Decide(f, kId).fix, "C:\\Windows\\System32\\regsvr32.exe \"C:\\L\\x86\\Orbalin.dll\"");
    EXPECT_EQ(Decide(Healthy(64), kId).fix, "");
    BitnessFacts none64 = Healthy(64);
    none64.machineRows = {};
    none64.create = {true, 0x80040154u, "Class not registered"};
    EXPECT_EQ(Decide(none64, kId).fix, "C:\\Windows\\System32\\regsvr32.exe \"C:\\L\\x64\\Orbalin.dll\"");
}

TEST(OrbalinCheckVerdict, BrokenRowsAndFilesEachGiveTheirCause)
{
    BitnessFacts deleted = Healthy();
    deleted.machineRows.serverPath = deleted.server.path = "C:\\old\\Orbalin.dll";
    deleted.server.exists = false;
    deleted.create = {true, 0x8007007Eu, "The specified module could not be found"};
    Verdict v = Decide(deleted, kId);
    EXPECT_EQ(v.reason, "the registered DLL C:\\old\\Orbalin.dll does not exist (moved or deleted after registration)");
    // The fix registers the shipped copy, not the vanished one.
    EXPECT_EQ(v.fix, "C:\\Windows\\System32\\regsvr32.exe \"C:\\L\\x64\\Orbalin.dll\"");

    BitnessFacts wrongMachine = Healthy(32);
    wrongMachine.machineRows.serverPath = wrongMachine.server.path = "C:\\L\\x64\\Orbalin.dll";
    wrongMachine.server.machine = Machine::X64;
    wrongMachine.create = {true, 0x800700C1u, "Bad EXE format"};
    v = Decide(wrongMachine, kId);
    EXPECT_EQ(v.reason, "the DLL registered in the 32-bit registry view, C:\\L\\x64\\Orbalin.dll, is a 64-bit DLL, "
                        "which 32-bit programs cannot load");
    EXPECT_EQ(v.fix, "C:\\Windows\\SysWOW64\\regsvr32.exe \"C:\\L\\x86\\Orbalin.dll\"");

    BitnessFacts noTypeLib = Healthy();
    noTypeLib.typeLibRegistered = false;
    noTypeLib.typeLibLoad = {true, 0x8002801Du, "Library not registered"};
    v = Decide(noTypeLib, kId);
    EXPECT_EQ(v.state, State::Cannot);
    EXPECT_EQ(v.reason, "the type library " + kId.libid + " 1.0 is not registered for win64");

    BitnessFacts otherClass = Healthy();
    otherClass.machineRows.progIdClsid = otherClass.progIdLookupClsid = "{00000000-0000-0000-0000-000000000001}";
    EXPECT_NE(Decide(otherClass, kId).reason.find("names the class {00000000"), std::string::npos);

    BitnessFacts typeLibGone = Healthy();
    typeLibGone.typeLibPathExists = false;
    typeLibGone.typeLibLoad = {true, 0x80029C4Au, "Error loading type library/DLL"};
    EXPECT_NE(Decide(typeLibGone, kId).reason.find("type library file"), std::string::npos);
}

TEST(OrbalinCheckVerdict, RowsRightButCreationFailsReportsTheCall)
{
    BitnessFacts f = Healthy();
    f.create = {true, 0x80004005u, "Unspecified error"};
    EXPECT_EQ(Decide(f, kId).reason, "creating the object failed: 0x80004005 Unspecified error");
    // Without a system text the known one is used.
    f.create = {true, 0x800700C1u, ""};
    EXPECT_EQ(Decide(f, kId).reason, "creating the object failed: 0x800700C1 %1 is not a valid Win32 application");
    f = Healthy();
    f.checkStatus = {true, 0x80020006u, "Unknown name"};
    EXPECT_EQ(Decide(f, kId).reason, "CheckStatus failed: 0x80020006 Unknown name");
    // Creating works but an early-bound client would find no type library.
    f = Healthy();
    f.typeLibLoad = {true, 0x80029C4Au, "Error loading type library/DLL"};
    EXPECT_EQ(Decide(f, kId).state, State::Cannot);
}

TEST(OrbalinCheckVerdict, PerUserRowsAndUncheckedBitnesses)
{
    BitnessFacts userOnly = Healthy();
    userOnly.userRows = userOnly.machineRows;
    userOnly.machineRows = {};
    userOnly.create = {true, 0x80040154u, "Class not registered"};
    EXPECT_NE(Decide(userOnly, kId).reason.find("only for the current user"), std::string::npos);
    // A working per-user registration is a working registration.
    BitnessFacts userWorks = Healthy();
    userWorks.userRows = userWorks.machineRows;
    userWorks.machineRows = {};
    EXPECT_EQ(Decide(userWorks, kId).state, State::Can);

    // The other bitness, whose check could not run: the rows still tell a
    // missing registration; right rows give no verdict either way.
    BitnessFacts unchecked = Healthy(32);
    unchecked.activationTried = false;
    unchecked.notTriedWhy = "32-bit programs cannot run here";
    EXPECT_EQ(Line(unchecked), "32-bit programs were not checked: 32-bit programs cannot run here; "
                               "the registry rows look right");
    unchecked.machineRows = {};
    EXPECT_EQ(Decide(unchecked, kId).state, State::Cannot);

    BitnessFacts on32 = Healthy();
    on32.windows64 = false;
    EXPECT_EQ(Decide(on32, kId).reason, "64-bit programs do not run on 32-bit Windows");
}

}  // namespace
}  // namespace orbalin::check
