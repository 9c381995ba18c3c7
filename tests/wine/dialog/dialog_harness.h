// What the dialog tests share: the scenario's files (from the environment
// that run-dialog-scenario sets), the printer simulator's trace, and checks
// of message boxes, sends and exits in GoogleTest terms.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dialog_remote.h"
#include "tool/dialog/report_operations.h"

namespace quillon::testing {

using remote::IconColour;
using remote::QuillonProcess;

// Independent spellings of the window's own texts.
extern const std::wstring kPortMessage;        // "Не е възможно да се отвори COM"
extern const std::wstring kLatinNoOperation;   // the list's own notice, in Latin letters

// QUILLON_EXE, QUILLON_TRACE_COM1, QUILLON_TRACE_COM3 as Windows paths.
std::wstring QuillonExe();
std::wstring TracePath(int port);

// One request as the simulator traced it.
struct TraceRequest {
    int command = -1;
    int sequence = -1;
    std::string data;
};

class Trace {
public:
    explicit Trace(std::wstring path) : m_path(std::move(path)) {}
    std::vector<TraceRequest> Requests() const;
    // Waits for the request after the first count ones.
    bool WaitForRequest(std::size_t count, TraceRequest& request) const;

private:
    std::wstring m_path;
};

std::wstring Wide(std::string_view text1251);

// Checks one message box and closes it with its OK button; whileOpen runs
// before it is closed.
void ExpectMessageBox(QuillonProcess& quillon, const std::wstring& text, const std::wstring& caption,
                      IconColour icon, const std::string& what, const std::function<void()>& whileOpen = {});
void ExpectMessage(QuillonProcess& quillon, const ReportMessage& message, const std::string& what,
                   const std::function<void()>& whileOpen = {});
// The dialog's "cannot open" notice, after any the link shows first.
void ExpectPortMessage(QuillonProcess& quillon, const std::string& what);
ReportMessage MessageFor(int index, const char* first, const char* second);
void ExpectExit(QuillonProcess& quillon, const std::string& what);
bool StartDialog(QuillonProcess& quillon);
// Sends the chosen operation with OK; checks the request at the simulator
// and the answer in the output field.
void ExpectSent(QuillonProcess& quillon, const Trace& trace, int index, int sequence, const std::string& data,
                std::string_view answer, const std::string& what);

}  // namespace quillon::testing
