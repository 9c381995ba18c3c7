// Link behaviour that needs no printer: a link that could not be created,
// and the real message boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "link_wine_harness.h"
#include "tool/dialog/link_texts.h"
#include "tool/dialog/win32/message_box_sink.h"

namespace {
std::atomic<bool> g_failNothrowNew{false};
}  // namespace

// The link creates its PortLink with the non-throwing new; this replacement
// lets a test make exactly that allocation fail.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_failNothrowNew)
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace quillon::testing {
namespace {

class NoLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_failNothrowNew = true;
        link = std::make_unique<CCommunication>(1, dialog, events);
        g_failNothrowNew = false;
    }

    EventLog log;
    FakeDialog dialog{log};
    RecordingSink sink{log};
    DialogLinkEvents events{dialog, sink};
    std::unique_ptr<CCommunication> link;
};

TEST_F(NoLink, EveryOperationTellsOfTheMissingLink)
{
    ASSERT_EQ(log.Count("message"), 1);
    EXPECT_EQ(log.Events()[0].text, texts::kNoMemory);
    EXPECT_EQ(log.Events()[0].caption, kCaptionError);
    EXPECT_EQ(log.Events()[0].icon, MessageIcon::Error);

    EXPECT_FALSE(link->MakeConection());
    EXPECT_EQ(log.Events().back().text, texts::kMakeConectionWithoutLink);
    link->Disconection();
    EXPECT_EQ(log.Events().back().text, texts::kDisconectionWithoutLink);
    EXPECT_EQ(log.Events().back().caption, kCaptionError);
}

TEST_F(NoLink, SendRequestDoesNotLeaveTheToolBusy)
{
    RequestFrame request;
    request.command = 69;
    request.data = reinterpret_cast<const std::uint8_t*>("1");
    request.dataLength = 1;
    link->SendRequest(request);
    EXPECT_EQ(link->m_busy, 0) << "nothing would ever end the wait";
    EXPECT_EQ(log.Count("timer"), 0);
    EXPECT_EQ(log.Events().back().text, texts::kSendRequestWithoutLink);
    EXPECT_EQ(log.Events().back().icon, MessageIcon::Error);
    link->OnResponseTimer();
    EXPECT_EQ(log.Count("message"), 2);
}

// The box of MessageBoxSink, seen from outside: owner, caption, text in
// Cyrillic whatever the code page, icon, one OK button.
class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(owner); }

    // Shows the box on another thread, as the receiver does, and finds it.
    HWND ShowAndFind(std::string_view text, std::string_view caption, MessageIcon icon, const wchar_t* wideCaption)
    {
        shower = std::thread([=, this] {
            MessageBoxSink().ShowMessage(text, caption, icon);
            closed = true;
        });
        for (int i = 0; i < 500; ++i) {
            PumpMessages();
            if (HWND box = ::FindWindowW(L"#32770", wideCaption))
                return box;
            std::this_thread::sleep_for(10ms);
        }
        return nullptr;
    }

    // Presses OK (or, when the box was never found, waits for the end anyway
    // by closing whatever box the thread shows).
    void Close(HWND box)
    {
        for (int i = 0; i < 500 && !closed; ++i) {
            if (box)
                ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            PumpMessages();
            std::this_thread::sleep_for(10ms);
        }
        shower.join();
    }

    static std::wstring Text(HWND box)
    {
        wchar_t buffer[256] = {};
        ::GetDlgItemTextW(box, 0xFFFF, buffer, 256);
        return buffer;
    }

    UniqueWindow owner = ForegroundOwner();
    std::thread shower;
    std::atomic<bool> closed{false};
};

TEST_F(MessageBoxes, ErrorBoxIsOwnedByTheForegroundWindowAndReadsInCyrillic)
{
    const HWND foreground = ::GetForegroundWindow();
    HWND box = ShowAndFind(texts::kPrinterNotAnswering, kCaptionError, MessageIcon::Error, L"Lorvane Kelmora: Error");
    if (box == nullptr) {
        ADD_FAILURE() << "no message box";
        return shower.detach();
    }
    EXPECT_EQ(::GetWindow(box, GW_OWNER), foreground);
    EXPECT_EQ(Text(box), L"\u041F\u0440\u0438\u043D\u0442\u0435\u0440\u044A\u0442 \u043D\u0435 "
                         L"\u043E\u0442\u0433\u043E\u0432\u0430\u0440\u044F!");   // Принтерът не отговаря!
    EXPECT_NE(::GetDlgItem(box, IDOK), nullptr);
    const HWND cancel = ::GetDlgItem(box, IDCANCEL);
    EXPECT_TRUE(cancel == nullptr || !::IsWindowVisible(cancel)) << "one OK button only";
    const HICON shown = reinterpret_cast<HICON>(::SendDlgItemMessageW(box, 0x0440, STM_GETICON, 0, 0));
    EXPECT_EQ(shown, ::LoadIconW(nullptr, IDI_HAND));
    Close(box);
}

TEST_F(MessageBoxes, NoticeBoxCarriesTheInformationIcon)
{
    HWND box = ShowAndFind(texts::kAnswer44, kCaptionQuillon, MessageIcon::Information, L"Lorvane Quillon");
    if (box == nullptr) {
        ADD_FAILURE() << "no message box";
        return shower.detach();
    }
    const HICON shown = reinterpret_cast<HICON>(::SendDlgItemMessageW(box, 0x0440, STM_GETICON, 0, 0));
    EXPECT_EQ(shown, ::LoadIconW(nullptr, IDI_ASTERISK));
    EXPECT_EQ(Text(box).substr(0, 7), L"\u041E\u0442\u0433\u043E\u0432\u043E\u0440");   // Отговор
    Close(box);
}

}  // namespace
}  // namespace quillon::testing
