// Choosing ports: a port that cannot be opened is told, a new port gets a
// new connection, and a missing COM1 is told before the dialog shows.
#include <gtest/gtest.h>

#include "dialog_harness.h"
#include "tool/dialog/link_texts.h"

namespace quillon::testing {
namespace {

using namespace remote;

TEST(DialogPorts, SwitchingPortsOpensANewConnectionAndTellsOfAPortThatCannotOpen)
{
    const Trace com1(TracePath(1));
    const Trace com3(TracePath(3));
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(StartDialog(quillon));
    quillon.PickAndWait(kOperationList, 1);
    ExpectSent(quillon, com1, 1, 0x21, "1", texts::kAnswer69, "COM1 first");
    quillon.PickAndWait(kOperationList, 2);
    ExpectSent(quillon, com1, 2, 0x22, "2", texts::kAnswer69, "COM1 second");

    quillon.Pick(kPortList, 1);   // COM2 leads nowhere
    ExpectPortMessage(quillon, "COM2 cannot be opened");
    quillon.Pick(kPortList, 2);
    EXPECT_TRUE(WaitFor([&] { return quillon.Selection(kPortList) == 2 && FindMessageBox(quillon.Pid()) == nullptr; }))
        << "COM3 chosen without a message";
    quillon.SetItemText(kOutput, L"");
    EXPECT_EQ(quillon.Selection(kOperationList), 2) << "the operation stays";
    ExpectSent(quillon, com3, 2, 0x21, "2", texts::kAnswer69, "COM3: a new connection");
    EXPECT_EQ(com1.Requests().size(), 2u) << "nothing more on COM1";
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

TEST(DialogPorts, NoPrinterPortAtStartIsToldBeforeTheDialogOpens)
{
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(quillon.Start()) << "Quillon.exe starts";
    HWND box = quillon.WaitForMessageBox();
    EXPECT_NE(box, nullptr) << "port message at start";
    EXPECT_EQ(FindDialog(quillon.Pid()), nullptr) << "the port message comes before the dialog";
    ExpectPortMessage(quillon, "port message");
    EXPECT_NE(quillon.WaitForDialog(), nullptr) << "the dialog opens after the port message";
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

}  // namespace
}  // namespace quillon::testing
