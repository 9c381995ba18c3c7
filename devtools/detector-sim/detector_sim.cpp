// detector-sim: stands in for the detector program Wendrix. It shows the
// top-level "ThunderForm" windows that the Orbalin server looks for, records
// every text handed to its detector form and sets the form back to ready.
// Usage: see kUsage below (detector-sim --help).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: detector-sim [options]\n"
    "  --log FILE           append one line per received text (default: stdout); a text\n"
    "                       longer than 1023 bytes is refused, logged as\n"
    "                       \"refused: N bytes, longer than 1023\"\n"
    "  --main-delay MS      show \"Lorvane Tessaly\" MS after start (default 0)\n"
    "  --no-main            never show \"Lorvane Tessaly\"\n"
    "  --detector-delay MS  show \"Wendrix\" MS after start (default 0)\n"
    "  --no-detector        never show \"Wendrix\"\n"
    "  --reset-delay MS     set the title back to \"Wendrix\" MS after a text (default 0)\n"
    "  --no-reset           never set the title back\n"
    "  --busy FROM[:TO]     show \"Busy\" from FROM to TO ms after start (no TO: for good);\n"
    "                       may be repeated\n"
    "  --status N           show \"FPStatus=N\"; may be repeated\n"
    "  --exit-after MS      end MS after start\n"
    "  --hang               show the forms, then never handle a message again (a hung program)\n"
    "Options are read from the environment variable DETECTOR_SIM_OPTIONS first, then\n"
    "from the command line, so a copy started by the server (which passes no\n"
    "arguments) can be configured too. Closing the main form (WM_CLOSE) also ends it.\n";

constexpr char kFormClass[] = "ThunderForm";
constexpr char kMainTitle[] = "Lorvane Tessaly";
constexpr char kDetectorTitle[] = "Wendrix";
constexpr char kBusyTitle[] = "Busy";
constexpr WPARAM kNewTextKey = 255;
// The longest text (in bytes) this stand-in takes. A longer one is refused
// with a line in the log, never cut: a cut line would arrive as a different
// sale (a price of "1" for "1.990000").
constexpr int kLongestText = 1023;

struct BusyPeriod {
    UINT from = 0;
    std::optional<UINT> to;
};

struct Options {
    std::string logPath;
    std::optional<UINT> mainDelay = 0;
    std::optional<UINT> detectorDelay = 0;
    std::optional<UINT> resetDelay = 0;
    std::vector<BusyPeriod> busy;
    std::vector<int> statuses;
    std::optional<UINT> exitAfter;
    bool hang = false;
};

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "detector-sim: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

UINT Milliseconds(const std::string& text)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        Usage("not a number of milliseconds: " + text);
    return static_cast<UINT>(value);
}

void Parse(const std::vector<std::string>& args, Options& options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                Usage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--log") {
            options.logPath = value();
        } else if (arg == "--main-delay") {
            options.mainDelay = Milliseconds(value());
        } else if (arg == "--no-main") {
            options.mainDelay.reset();
        } else if (arg == "--detector-delay") {
            options.detectorDelay = Milliseconds(value());
        } else if (arg == "--no-detector") {
            options.detectorDelay.reset();
        } else if (arg == "--reset-delay") {
            options.resetDelay = Milliseconds(value());
        } else if (arg == "--no-reset") {
            options.resetDelay.reset();
        } else if (arg == "--busy") {
            const std::string& period = value();
            const auto colon = period.find(':');
            BusyPeriod busy;
            busy.from = Milliseconds(period.substr(0, colon));
            if (colon != std::string::npos)
                busy.to = Milliseconds(period.substr(colon + 1));
            options.busy.push_back(busy);
        } else if (arg == "--status") {
            const UINT status = Milliseconds(value());
            options.statuses.push_back(static_cast<int>(status));
        } else if (arg == "--exit-after") {
            options.exitAfter = Milliseconds(value());
        } else if (arg == "--hang") {
            options.hang = true;
        } else {
            Usage("unknown option " + arg);
        }
    }
}

std::vector<std::string> SplitOnBlanks(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

// One-shot actions on thread timers, keyed by timer id.
std::map<UINT_PTR, std::function<void()>>& Actions()
{
    static std::map<UINT_PTR, std::function<void()>> actions;
    return actions;
}

void CALLBACK RunAction(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    auto found = Actions().find(id);
    if (found == Actions().end())
        return;
    auto action = std::move(found->second);
    Actions().erase(found);
    action();
}

void After(UINT milliseconds, std::function<void()> action)
{
    if (milliseconds == 0) {
        action();
        return;
    }
    const UINT_PTR id = ::SetTimer(nullptr, 0, milliseconds, RunAction);
    if (id != 0)
        Actions()[id] = std::move(action);
}

class Simulator {
public:
    explicit Simulator(Options options) : m_options(std::move(options))
    {
        if (!m_options.logPath.empty()) {
            m_log = std::fopen(m_options.logPath.c_str(), "ab");
            if (m_log == nullptr)
                Usage("cannot open " + m_options.logPath);
        }
    }
    ~Simulator()
    {
        if (m_log != nullptr && m_log != stdout)
            std::fclose(m_log);
    }

    void Start()
    {
        for (int status : m_options.statuses)
            MakeForm(("FPStatus=" + std::to_string(status)).c_str());
        for (const BusyPeriod& busy : m_options.busy) {
            auto form = std::make_shared<HWND>(nullptr);
            After(busy.from, [this, form] { *form = MakeForm(kBusyTitle); });
            if (busy.to)
                After(*busy.to, [form] {
                    if (*form != nullptr)
                        ::DestroyWindow(*form);
                    *form = nullptr;
                });
        }
        if (m_options.mainDelay)
            After(*m_options.mainDelay, [this] { m_main = MakeForm(kMainTitle); });
        if (m_options.detectorDelay)
            After(*m_options.detectorDelay, [this] { m_detector = MakeForm(kDetectorTitle); });
        if (m_options.exitAfter)
            After(*m_options.exitAfter, [] { ::PostQuitMessage(0); });
    }

    bool hangs() const { return m_options.hang; }

    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_KEYDOWN && wParam == kNewTextKey && window == m_detector) {
            Record(window);
            if (m_options.resetDelay)
                After(*m_options.resetDelay, [window] { ::SetWindowTextA(window, kDetectorTitle); });
            return 0;
        }
        if (message == WM_CLOSE && window == m_main) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

private:
    HWND MakeForm(const char* title)
    {
        // Hidden: the server's look-up finds hidden windows too, and hidden
        // windows cost nothing on the test desktop.
        return ::CreateWindowExA(0, kFormClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 ::GetModuleHandleA(nullptr), this);
    }

    void Record(HWND window)
    {
        FILE* out = m_log != nullptr ? m_log : stdout;
        const int whole = ::GetWindowTextLengthA(window);
        if (whole > kLongestText) {
            std::fprintf(out, "refused: %d bytes, longer than %d\n", whole, kLongestText);
        } else {
            char text[kLongestText + 1] = {};
            const int length = ::GetWindowTextA(window, text, static_cast<int>(sizeof text));
            std::fwrite(text, 1, static_cast<std::size_t>(length), out);
            std::fputc('\n', out);
        }
        std::fflush(out);
    }

    Options m_options;
    FILE* m_log = nullptr;
    HWND m_main = nullptr;
    HWND m_detector = nullptr;
};

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* simulator = reinterpret_cast<Simulator*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (simulator == nullptr)
        return ::DefWindowProcA(window, message, wParam, lParam);
    return simulator->Handle(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const char* fromEnvironment = std::getenv("DETECTOR_SIM_OPTIONS"))
        Parse(SplitOnBlanks(fromEnvironment), options);
    Parse(std::vector<std::string>(argv + 1, argv + argc), options);

    WNDCLASSA formClass = {};
    formClass.lpfnWndProc = FormProc;
    formClass.hInstance = ::GetModuleHandleA(nullptr);
    formClass.lpszClassName = kFormClass;
    if (::RegisterClassA(&formClass) == 0)
        Usage("cannot register the window class");

    Simulator simulator(std::move(options));
    simulator.Start();
    if (simulator.hangs()) {
        // The forms made without delay exist; nothing will answer them.
        ::Sleep(INFINITE);
    }
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}
