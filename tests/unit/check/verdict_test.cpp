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

// The object works, but InitOrbalin cannot start the program WIN.INI
// names: its own state and exit code, naming the program.
TEST(OrbalinCheckVerdict, DetectorProgramThatCannotBeStartedIsItsOwnVerdict)
{
    BitnessFacts missing = Healthy();
    missing.profile = "C:\\Wendrix\\Wendrix.exe";
    missing.profileLength = missing.profile.size();
    EXPECT_EQ(Decide(missing, kId).state, State::NoDetector);
    EXPECT_EQ(Line(missing), "64-bit programs can create " + kId.progId +
                                 ", but commands cannot reach the register: the detector program named in WIN.INI "
                                 "([Orbalin] Orbalin), C:\\Wendrix\\Wendrix.exe, does not exist; fix: name the "
                                 "detector program's full path, at most 254 characters, in the Orbalin key of "
                                 "WIN.INI's [Orbalin] section");

    BitnessFacts tooLong = missing;
    tooLong.profile = "C:\\" + std::string(250, 'd');
    tooLong.profileLength = 302;
    tooLong.profileExists = true;  // whatever the cut path names
    tooLong.profileStartable = true;
    EXPECT_EQ(Decide(tooLong, kId).reason, "the detector program named in WIN.INI ([Orbalin] Orbalin), a path of "
                                           "302 characters, is longer than the 254 that Orbalin reads, so "
                                           "InitOrbalin tries to start " + tooLong.profile);

    BitnessFacts notStartable = missing;
    notStartable.profileExists = true;
    EXPECT_NE(Decide(notStartable, kId).reason.find("Wendrix.exe, cannot be started"), std::string::npos);

    BitnessFacts startable = notStartable;
    startable.profileStartable = true;
    EXPECT_EQ(Decide(startable, kId).state, State::Can);
    // No value: InitOrbalin starts nothing, which a shop may intend.
    EXPECT_EQ(Decide(Healthy(), kId).state, State::Can);
    // A bitness that cannot create the object says that first.
    BitnessFacts both = missing;
    both.create = {true, 0x80004005u, "Unspecified error"};
    EXPECT_EQ(Decide(both, kId).state, State::Cannot);
}

// Created, but the type library is gone: the line must not say "cannot
// create" under a fact line that says creating worked.
TEST(OrbalinCheckVerdict, CreatedObjectWithoutTypeLibrarySaysItCannotBeUsed)
{
    BitnessFacts f = Healthy();
    f.typeLibRegistered = false;
    f.typeLibLoad = {true, 0x8002801Du, "Library not registered"};
    EXPECT_EQ(Line(f), "64-bit programs can create " + kId.progId + " but cannot use it: the type library " +
                           kId.libid + " 1.0 is not registered for win64; fix: "
                           "C:\\Windows\\System32\\regsvr32.exe \"C:\\L\\x64\\Orbalin.dll\"");
}

TEST(OrbalinCheckVerdict, FixesProposeOnlyWhatWorks)
{
    // regsvr32 of a path the code page cannot carry fails with 0x80070459.
    BitnessFacts cyrillic = Healthy();
    cyrillic.machineRows = {};
    cyrillic.server = {};
    cyrillic.create = {true, 0x80040154u, "Class not registered"};
    cyrillic.shipped.path = "C:\\\xD0\x9A\xD0\xB0\xD1\x81\xD0\xB0\\Orbalin.dll";
    cyrillic.shippedPathFits = false;
    const std::string fix = Decide(cyrillic, kId).fix;
    EXPECT_EQ(fix.find("regsvr32.exe \"" + cyrillic.shipped.path), std::string::npos) << fix;
    EXPECT_NE(fix.find("install with the MSI, or copy Orbalin.dll to a folder whose path code page 1252 carries"),
              std::string::npos) << fix;

    // Beside a registration-free client: its manifest, never regsvr32 of
    // the client's folder.
    BitnessFacts client = cyrillic;
    client.shipped.path = "C:\\Till\\Orbalin.dll";
    client.shippedPathFits = true;
    client.assemblyIdentity = "<assemblyIdentity type=\"win32\" name=\"Orbalin\" version=\"1.0.0.2\"/>";
    client.clientManifests = {{"C:\\Till\\till.exe.manifest", false}};
    EXPECT_EQ(Decide(client, kId).fix,
              "for registration-free use the client's manifest must name <dependency><dependentAssembly>"
              "<assemblyIdentity type=\"win32\" name=\"Orbalin\" version=\"1.0.0.2\"/></dependentAssembly>"
              "</dependency>; C:\\Till\\till.exe.manifest does not name it");
}

}  // namespace
}  // namespace orbalin::check
