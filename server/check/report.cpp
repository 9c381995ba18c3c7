#include "server/check/report.h"

#include <cctype>

#include "common/ascii_case.h"
#include "common/json_text.h"
#include "server/check/verdict.h"

namespace orbalin::check {
namespace {

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string StepValue(const Step& step)
{
    if (!step.tried)
        return "not tried";
    return step.Failed() ? "failed: " + HresultText(step.hr, step.text) : "ok";
}

std::string RowsValue(bool present, const std::string& value) { return present ? value : "absent"; }

void AddRows(Report& r, const std::string& prefix, const Rows& rows, const Identity& id)
{
    r.facts.emplace_back(prefix + "progid", RowsValue(rows.progId, id.progId + " -> " + rows.progIdClsid));
    r.facts.emplace_back(prefix + "progid_versioned",
                         RowsValue(rows.versionedProgId, id.versionedProgId + " -> " + rows.versionedProgIdClsid));
    r.facts.emplace_back(prefix + "clsid", RowsValue(rows.clsid, id.clsid));
    r.facts.emplace_back(prefix + "inproc_server", rows.clsid ? (rows.serverPath.empty() ? "absent" : rows.serverPath)
                                                              : "absent");
}

const char* StateWord(State state)
{
    switch (state) {
    case State::Can: return "can";
    case State::NotChecked: return "not-checked";
    case State::NoDetector: return "no-detector";
    case State::Cannot: break;
    }
    return "cannot";
}

struct Label {
    const char* key;
    const char* text;
};
// The text output's labels; a key missing here (a newer sibling) prints as is.
constexpr Label kLabels[] = {
    {"progid", "ProgID row"},
    {"progid_versioned", "versioned ProgID row"},
    {"clsid", "CLSID row"},
    {"inproc_server", "InprocServer32"},
    {"user_progid", "per-user ProgID row (HKCU\\Software\\Classes)"},
    {"user_progid_versioned", "per-user versioned ProgID row"},
    {"user_clsid", "per-user CLSID row"},
    {"user_inproc_server", "per-user InprocServer32"},
    {"server_exists", "registered DLL exists"},
    {"server_machine", "registered DLL machine"},
    {"server_version", "registered DLL file version"},
    {"threading_model", "ThreadingModel"},
    {"shipped_dll", "DLL beside orbalin-check"},
    {"typelib", "type library registered"},
    {"typelib_path_exists", "type library file exists"},
    {"typelib_load", "type library loads (LoadRegTypeLib)"},
    {"progid_lookup", "CLSIDFromProgID"},
    {"create", "create the object (CoCreateInstance)"},
    {"check_status", "CheckStatus (through IDispatch)"},
    {"profile", "[Orbalin] Orbalin in WIN.INI, as Orbalin reads it"},
    {"profile_length", "that value's whole length"},
    {"profile_exists", "that program exists"},
    {"profile_startable", "that program can be started"},
    {"elevated", "this check runs elevated"},
    {"server_writable", "registered DLL changeable by ordinary users"},
    {"server_same_as_shipped", "registered DLL same as the one beside orbalin-check"},
    {"client_manifest", "registration-free client manifest"},
};

std::string LabelOf(const std::string& key)
{
    for (const Label& label : kLabels)
        if (key == label.key)
            return label.text;
    return key;
}

// A reader of the flat JSON that RenderJson writes.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : m_text(text) {}

    bool Eat(char c)
    {
        SkipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool AtEnd()
    {
        SkipSpace();
        return m_pos == m_text.size();
    }
    std::optional<std::string> String()
    {
        if (!Eat('"'))
            return std::nullopt;
        std::string out;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size())
                return std::nullopt;
            const char e = m_text[m_pos++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'u': {
                if (m_pos + 4 > m_text.size())
                    return std::nullopt;
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const char h = m_text[m_pos++];
                    if (!std::isxdigit(static_cast<unsigned char>(h)))
                        return std::nullopt;
                    code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                                 ? h - '0'
                                                                 : (std::tolower(static_cast<unsigned char>(h)) - 'a' + 10));
                }
                if (code < 0x80) {
                    out += static_cast<char>(code);
                } else if (code < 0x800) {
                    out += static_cast<char>(0xC0 | (code >> 6));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                } else {
                    out += static_cast<char>(0xE0 | (code >> 12));
                    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                }
                break;
            }
            default: return std::nullopt;
            }
        }
        return std::nullopt;
    }
    // A number, true, false or null, as its text.
    std::optional<std::string> Word()
    {
        SkipSpace();
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() &&
               (std::isalnum(static_cast<unsigned char>(m_text[m_pos])) || m_text[m_pos] == '-'))
            ++m_pos;
        if (m_pos == start)
            return std::nullopt;
        return std::string(m_text.substr(start, m_pos - start));
    }

private:
    void SkipSpace()
    {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
    }
    std::string_view m_text;
    std::size_t m_pos = 0;
};

std::optional<Report> ParseObject(JsonReader& in)
{
    if (!in.Eat('{'))
        return std::nullopt;
    Report r;
    bool haveBits = false, haveState = false, haveVerdict = false;
    if (in.Eat('}'))
        return std::nullopt;
    do {
        auto key = in.String();
        if (!key || !in.Eat(':'))
            return std::nullopt;
        std::optional<std::string> value = in.String();
        if (!value) {
            value = in.Word();
            if (!value)
                return std::nullopt;
        }
        if (*key == "bits") {
            if (*value != "32" && *value != "64")
                return std::nullopt;
            r.bits = *value == "32" ? 32 : 64;
            haveBits = true;
        } else if (*key == "state") {
            if (*value == "can")
                r.state = State::Can;
            else if (*value == "no-detector")
                r.state = State::NoDetector;
            else if (*value == "cannot")
                r.state = State::Cannot;
            else if (*value == "not-checked")
                r.state = State::NotChecked;
            else
                return std::nullopt;
            haveState = true;
        } else if (*key == "verdict") {
            r.verdict = *value;
            haveVerdict = true;
        } else if (*key == "reason") {
            r.reason = *value;
        } else if (*key == "fix") {
            r.fix = *value;
        } else {
            r.facts.emplace_back(*key, *value);
        }
    } while (in.Eat(','));
    if (!in.Eat('}') || !haveBits || !haveState || !haveVerdict)
        return std::nullopt;
    return r;
}

}  // namespace

Report BuildReport(const BitnessFacts& f, const Identity& id)
{
    const Verdict v = Decide(f, id);
    Report r;
    r.bits = f.bits;
    r.state = v.state;
    r.verdict = VerdictLine(f.bits, v, id);
    r.reason = v.reason;
    r.fix = v.fix;
    AddRows(r, "", f.machineRows, id);
    AddRows(r, "user_", f.userRows, id);
    if (!f.server.path.empty()) {
        r.facts.emplace_back("server_exists", YesNo(f.server.exists));
        if (f.server.exists) {
            r.facts.emplace_back("server_machine", MachineName(f.server.machine));
            r.facts.emplace_back("server_version", f.server.version.empty() ? "none" : f.server.version);
        }
    }
    const Rows& rows = f.machineRows.clsid ? f.machineRows : f.userRows;
    r.facts.emplace_back("threading_model", rows.clsid ? (rows.threadingModel.empty() ? "absent" : rows.threadingModel)
                                                       : "absent");
    r.facts.emplace_back("shipped_dll", f.shipped.path + (f.shipped.exists ? "" : " (missing)"));
    r.facts.emplace_back("typelib", f.typeLibRegistered ? f.typeLibPath : "no");
    if (f.typeLibRegistered)
        r.facts.emplace_back("typelib_path_exists", YesNo(f.typeLibPathExists));
    if (f.activationTried) {
        r.facts.emplace_back("typelib_load", StepValue(f.typeLibLoad));
        r.facts.emplace_back("progid_lookup", f.progIdLookup.Succeeded() ? f.progIdLookupClsid
                                                                         : StepValue(f.progIdLookup));
        r.facts.emplace_back("create", StepValue(f.create));
        r.facts.emplace_back("check_status", f.checkStatus.Succeeded() ? "status " + std::to_string(f.status)
                                                                       : StepValue(f.checkStatus));
    } else {
        r.facts.emplace_back("create", "not tried: " + f.notTriedWhy);
    }
    if (!f.server.path.empty() && f.server.exists) {
        r.facts.emplace_back("server_writable",
                             f.serverWritable ? "yes: whoever can replace it runs code in every program that "
                                                "creates the object; install with the MSI"
                                              : "no");
        if (f.serverVsShipped != BitnessFacts::Sameness::Unknown)
            r.facts.emplace_back("server_same_as_shipped",
                                 f.serverVsShipped == BitnessFacts::Sameness::Same
                                     ? "yes"
                                     : "no: programs load " + f.server.path + ", not " + f.shipped.path);
    }
    for (const auto& [manifest, names] : f.clientManifests)
        r.facts.emplace_back("client_manifest", manifest + (names ? ": names Orbalin" : ": does not name Orbalin"));
    r.facts.emplace_back("elevated",
                         f.elevated ? "yes: programs run as administrator, like this check, do not use per-user "
                                      "rows; programs the user starts normally do"
                                    : "no: per-user rows are used by this account's programs, but not by those "
                                      "run as administrator");
    r.facts.emplace_back("profile", f.profile.empty() ? "absent: InitOrbalin starts nothing" : f.profile);
    if (f.profileLength > kProfileReadLimit)
        r.facts.emplace_back("profile_length", std::to_string(f.profileLength) + " characters, cut at " +
                                                   std::to_string(kProfileReadLimit));
    if (!f.profile.empty()) {
        r.facts.emplace_back("profile_exists", YesNo(f.profileExists));
        if (f.profileExists)
            r.facts.emplace_back("profile_startable", YesNo(f.profileStartable));
    }
    return r;
}

Report NotCheckedReport(int bits, const std::string& why)
{
    Report r;
    r.bits = bits;
    r.state = State::NotChecked;
    r.reason = why;
    r.verdict = std::to_string(bits) + "-bit programs were not checked: " + why;
    return r;
}

std::string RenderText(const std::vector<Report>& reports)
{
    std::string out;
    for (const Report& r : reports) {
        out += std::to_string(r.bits) + "-bit programs:\n";
        for (const auto& [key, value] : r.facts)
            out += "  " + LabelOf(key) + ": " + value + "\n";
    }
    for (const Report& r : reports)
        out += r.verdict + "\n";
    return out;
}

std::string RenderJson(const std::vector<Report>& reports)
{
    std::string out = "[";
    for (const Report& r : reports) {
        if (out.size() > 1)
            out += ',';
        out += "{\"bits\":" + std::to_string(r.bits) + ",\"state\":";
        out += lorvane::JsonString(StateWord(r.state));
        out += ",\"verdict\":";
        out += lorvane::JsonString(r.verdict);
        out += ",\"reason\":";
        out += lorvane::JsonString(r.reason);
        out += ",\"fix\":";
        out += lorvane::JsonString(r.fix);
        for (const auto& [key, value] : r.facts) {
            out += ',';
            out += lorvane::JsonString(key);
            out += ':';
            out += lorvane::JsonString(value);
        }
        out += '}';
    }
    return out + "]\n";
}

std::optional<std::vector<Report>> ParseJson(std::string_view text)
{
    JsonReader in(text);
    if (!in.Eat('['))
        return std::nullopt;
    std::vector<Report> reports;
    if (!in.Eat(']')) {
        do {
            auto report = ParseObject(in);
            if (!report)
                return std::nullopt;
            reports.push_back(std::move(*report));
        } while (in.Eat(','));
        if (!in.Eat(']'))
            return std::nullopt;
    }
    if (!in.AtEnd())
        return std::nullopt;
    return reports;
}

int ExitCode(const std::vector<Report>& reports)
{
    bool noDetector = false;
    for (const Report& r : reports) {
        if (r.state == State::Cannot || r.state == State::NotChecked)
            return 1;
        noDetector = noDetector || r.state == State::NoDetector;
    }
    if (reports.empty())
        return 1;
    return noDetector ? kExitNoDetector : 0;
}

const char kUsage[] =
    "usage: orbalin-check [--bits 32|64] [--json]\n"
    "Says whether 32-bit and 64-bit programs can create the Orbalin object, and\n"
    "if not, why and the command that fixes it. It changes nothing.\n"
    "  --bits 32|64  check one bitness (default: both; the other bitness is\n"
    "                checked by the other build's orbalin-check.exe)\n"
    "  --json        print the answer as JSON\n"
    "Exit code: 0 when the asked-for bitnesses can create the object, 1 when\n"
    "one cannot or could not be checked, 2 for a usage error, 3 when the object\n"
    "works but commands cannot reach the register: the detector program named\n"
    "in WIN.INI is missing, cannot be started, or its path is longer than the\n"
    "254 characters that Orbalin reads.\n";

Options ParseCommandLine(const std::vector<std::string>& args)
{
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            o.json = true;
        } else if (a == "--help" || a == "-h" || a == "/?") {
            o.help = true;
        } else if (a == "--bits" || a.rfind("--bits=", 0) == 0) {
            std::string value;
            if (a == "--bits") {
                if (++i == args.size()) {
                    o.error = "--bits needs 32 or 64";
                    return o;
                }
                value = args[i];
            } else {
                value = a.substr(7);
            }
            if (value != "32" && value != "64") {
                o.error = "--bits takes 32 or 64, not '" + value + "'";
                return o;
            }
            o.want32 = value == "32";
            o.want64 = value == "64";
        } else {
            o.error = "unknown argument '" + a + "'";
            return o;
        }
    }
    return o;
}

Machine PeMachine(const std::uint8_t* bytes, std::size_t size)
{
    auto u16 = [&](std::size_t at) { return static_cast<unsigned>(bytes[at] | (bytes[at + 1] << 8)); };
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z')
        return Machine::NotPe;
    const std::size_t pe = u16(0x3C) | (static_cast<std::size_t>(u16(0x3E)) << 16);
    if (pe > size || size - pe < 6 || bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 ||
        bytes[pe + 3] != 0)
        return Machine::NotPe;
    switch (u16(pe + 4)) {
    case 0x014C: return Machine::X86;
    case 0x8664: return Machine::X64;
    default: return Machine::Other;
    }
}

namespace {

// The value of attribute name="…" in an element's text, or "".
std::string Attribute(std::string_view element, std::string_view name)
{
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t at = element.find(key);
    if (at == std::string_view::npos)
        return "";
    const std::size_t start = at + key.size();
    const std::size_t end = element.find('"', start);
    return end == std::string_view::npos ? "" : std::string(element.substr(start, end - start));
}

std::vector<std::string_view> IdentityElements(std::string_view manifest)
{
    std::vector<std::string_view> elements;
    for (std::size_t at = manifest.find("<assemblyIdentity"); at != std::string_view::npos;
         at = manifest.find("<assemblyIdentity", at + 1)) {
        const std::size_t end = manifest.find('>', at);
        if (end == std::string_view::npos)
            break;
        elements.push_back(manifest.substr(at, end - at + 1));
    }
    return elements;
}

}  // namespace

std::string AssemblyIdentity(std::string_view manifest)
{
    const auto elements = IdentityElements(manifest);
    return elements.empty() ? "" : std::string(elements.front());
}

bool NamesAssembly(std::string_view clientManifest, std::string_view identity)
{
    for (std::string_view element : IdentityElements(clientManifest)) {
        bool same = true;
        for (const char* name : {"name", "version", "processorArchitecture"})
            same = same && lorvane::EqualsNoCase(Attribute(element, name), Attribute(identity, name));
        if (same && !Attribute(identity, "name").empty())
            return true;
    }
    return false;
}

std::vector<SiblingPlace> SiblingPlaces(const std::string& ownFolder, int ownBits)
{
    std::string folder = ownFolder;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    const std::size_t cut = folder.find_last_of("\\/");
    const std::string_view leaf = std::string_view(folder).substr(cut == std::string::npos ? 0 : cut + 1);
    const bool other32 = ownBits == 64;
    std::vector<SiblingPlace> places;
    if (cut != std::string::npos && lorvane::EqualsNoCase(leaf, other32 ? "x64" : "x86")) {
        const std::string other = folder.substr(0, cut + 1) + (other32 ? "x86" : "x64");
        places.push_back({other + "\\orbalin-check.exe", other + "\\Orbalin.dll"});
    }
    const std::string suffix = other32 ? "32" : "64";
    places.push_back({folder + "\\orbalin-check" + suffix + ".exe", folder + "\\Orbalin" + suffix + ".dll"});
    return places;
}

}  // namespace orbalin::check
