// Arbitrary script texts, registered and unregistered against the in-memory
// registry with a single-byte and a double-byte code page. Checks that every
// run ends with a known status and with every key it opened closed, and that
// the registry grows no faster than the text. Memory errors and leaks are
// caught by the sanitizers; unbounded recursion would overflow their stack.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "memory_registry.h"
#include "server/registration/script_interpreter.h"

namespace {

using namespace orbalin;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class SingleByte final : public CodePage {
public:
    bool IsLeadByte(unsigned char) const override { return false; }
    bool FromWide(std::u16string_view text, std::string& out) const override
    {
        out.assign(text.begin(), text.end());
        return true;
    }
};

class DoubleByte final : public CodePage {
public:
    bool IsLeadByte(unsigned char b) const override { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
    bool FromWide(std::u16string_view text, std::string& out) const override
    {
        out.assign(text.begin(), text.end());
        return true;
    }
};

std::size_t Lines(const std::string& text)
{
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

void RunOnce(testing::MemoryRegistry& registry, std::string_view text, ScriptMode mode, const CodePage& codePage)
{
    ReplacementMap map;
    map.Add("Module", u"C:\\o''brien\\Orbalin.dll");
    const Status s = ApplyRegistrationScript(text, mode, map, codePage, registry);
    Check(s == status::Ok || s == status::Failed || s == status::DispatchException);
    Check(registry.OpenHandles() == 0);
    // Each key the script makes costs it at least two bytes of text.
    Check(Lines(registry.Dump()) <= text.size() / 2 + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SingleByte singleByte;
    const DoubleByte doubleByte;

    testing::MemoryRegistry registry;
    RunOnce(registry, text, ScriptMode::Register, singleByte);
    RunOnce(registry, text, ScriptMode::Register, singleByte);
    RunOnce(registry, text, ScriptMode::Unregister, singleByte);

    testing::MemoryRegistry other;
    other.failCreate.insert("f");
    other.failClose.insert("c");
    RunOnce(other, text, ScriptMode::Register, doubleByte);
    RunOnce(other, text, ScriptMode::Unregister, doubleByte);
    return 0;
}
