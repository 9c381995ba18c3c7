#include "dialog_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/win/text.h"

namespace quillon::testing {

using remote::kOutput;
using remote::TextOf;
using remote::Utf8;
using remote::WaitFor;

const std::wstring kPortMessage = L"\u041D\u0435 \u0435 \u0432\u044A\u0437\u043C\u043E\u0436\u043D\u043E \u0434\u0430 "
                                  L"\u0441\u0435 \u043E\u0442\u0432\u043E\u0440\u0438 COM";
const std::wstring kLatinNoOperation = L"Nqma takawa finkciq!";

namespace {

std::wstring Environment(const wchar_t* name)
{
    const wchar_t* value = ::_wgetenv(name);
    return value ? value : L"";
}

std::wstring BoxText(HWND box) { return TextOf(::GetDlgItem(box, remote::kMessageBoxText)); }

}  // namespace

std::wstring QuillonExe() { return Environment(L"QUILLON_EXE"); }

std::wstring TracePath(int port) { return Environment((L"QUILLON_TRACE_COM" + std::to_wstring(port)).c_str()); }

std::vector<TraceRequest> Trace::Requests() const
{
    std::vector<TraceRequest> requests;
    std::ifstream file{std::filesystem::path(m_path)};
    std::string line;
    while (std::getline(file, line)) {
        if (line.find(" RX ") == std::string::npos || line.find("cmd=") == std::string::npos)
            continue;
        TraceRequest request;
        request.command = std::atoi(line.c_str() + line.find("cmd=") + 4);
        request.sequence = static_cast<int>(std::strtol(line.c_str() + line.find("seq=0x") + 6, nullptr, 16));
        const auto open = line.find("data=\"");
        const auto close = line.rfind("\" checksum");
        if (open != std::string::npos && close != std::string::npos && close >= open + 6)
            request.data = line.substr(open + 6, close - open - 6);
        requests.push_back(request);
    }
    return requests;
}

bool Trace::WaitForRequest(std::size_t count, TraceRequest& request) const
{
    std::vector<TraceRequest> requests;
    if (!WaitFor([&] { return (requests = Requests()).size() > count; }))
        return false;
    request = requests[count];
    return true;
}

std::wstring Wide(std::string_view text1251) { return lorvane::win::WideFrom1251(text1251); }

void ExpectMessageBox(QuillonProcess& quillon, const std::wstring& text, const std::wstring& caption,
                      IconColour icon, const std::string& what, const std::function<void()>& whileOpen)
{
    HWND box = quillon.WaitForMessageBox();
    EXPECT_NE(box, nullptr) << what << ": a message box appears";
    if (!box)
        return;
    EXPECT_EQ(BoxText(box), text) << what << ": text, got \"" << Utf8(BoxText(box)) << "\"";
    EXPECT_EQ(TextOf(box), caption) << what << ": caption, got \"" << Utf8(TextOf(box)) << "\"";
    EXPECT_EQ(remote::IconColourOf(box), icon) << what << ": icon";
    EXPECT_TRUE(::GetDlgItem(box, IDCANCEL) == nullptr || !::IsWindowVisible(::GetDlgItem(box, IDCANCEL)) ||
                TextOf(::GetDlgItem(box, IDOK)) == L"OK")
        << what << ": one OK button";
    if (whileOpen)
        whileOpen();
    remote::ClickButton(::GetDlgItem(box, IDOK));
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); })) << what << ": the box closes";
}

void ExpectMessage(QuillonProcess& quillon, const ReportMessage& message, const std::string& what,
                   const std::function<void()>& whileOpen)
{
    ExpectMessageBox(quillon, Wide(message.text), Wide(message.caption),
                     message.icon == MessageIcon::Error ? IconColour::Red : IconColour::Blue, what, whileOpen);
}

// A port that leads nowhere may first fail a later step of the opening
// (Wine opens a dangling port link and then cannot read its state); the
// link tells that in its own words before the dialog's port message.
void ExpectPortMessage(QuillonProcess& quillon, const std::string& what)
{
    for (int inner = 0; inner < 3; ++inner) {
        HWND box = quillon.WaitForMessageBox();
        if (!box || BoxText(box) == kPortMessage)
            break;
        std::printf("%s: the link says first \"%s\"\n", what.c_str(), Utf8(BoxText(box)).c_str());
        remote::ClickButton(::GetDlgItem(box, IDOK));
        WaitFor([&] { return !::IsWindow(box); });
    }
    ExpectMessageBox(quillon, kPortMessage, remote::kDialogTitle, IconColour::Blue, what);
}

ReportMessage MessageFor(int index, const char* first, const char* second)
{
    return std::get<ReportMessage>(ComposeReportRequest(index, first, second));
}

void ExpectExit(QuillonProcess& quillon, const std::string& what)
{
    DWORD code = 1234;
    EXPECT_TRUE(quillon.WaitForExit(code)) << what << ": the program ends";
    EXPECT_EQ(code, 0u) << what << ": exit code";
}

bool StartDialog(QuillonProcess& quillon)
{
    EXPECT_TRUE(quillon.Start()) << "Quillon.exe starts";
    EXPECT_NE(quillon.WaitForDialog(), nullptr) << "the dialog appears";
    return quillon.Dialog() != nullptr;
}

void ExpectSent(QuillonProcess& quillon, const Trace& trace, int index, int sequence, const std::string& data,
                std::string_view answer, const std::string& what)
{
    // Emptied first: two operations may have the same answer text, and the
    // next send must wait for this answer (the link is busy until then).
    quillon.SetItemText(kOutput, L"");
    const auto before = trace.Requests().size();
    quillon.Click(IDOK);
    TraceRequest request;
    EXPECT_TRUE(trace.WaitForRequest(before, request)) << what << ": the printer gets a request";
    EXPECT_EQ(request.command, FindReportOperation(index)->command) << what << ": command";
    EXPECT_EQ(request.sequence, sequence) << what << ": sequence byte";
    EXPECT_EQ(request.data, data) << what << ": data";
    const std::wstring expected = Wide(answer);
    EXPECT_TRUE(WaitFor([&] { return quillon.ItemText(kOutput) == expected; })) << what << ": the answer is shown";
}

}  // namespace quillon::testing
