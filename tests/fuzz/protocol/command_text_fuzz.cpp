// The command text for arbitrary sale lines must equal the C library's
// "%d|%d|%s|%s|%f|%f" in the C locale (finite amounts; texts without NUL).
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/protocol/detector_protocol.h"

namespace {

template <typename T>
T Take(const std::uint8_t*& data, std::size_t& size)
{
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto code = Take<std::int16_t>(data, size);
    orbalin::SaleLine line;
    line.deviceNumber = Take<std::int32_t>(data, size);
    line.quantity = Take<double>(data, size);
    line.price = Take<double>(data, size);
    if (!std::isfinite(line.quantity) || !std::isfinite(line.price))
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data), size);
    if (rest.find('\0') != std::string::npos)
        return 0;
    const std::size_t split = rest.empty() ? 0 : static_cast<unsigned char>(rest[0]) % (rest.size() + 1);
    line.code = rest.substr(0, split);
    line.name = rest.substr(split);

    std::setlocale(LC_NUMERIC, "C");
    std::vector<char> expected(line.code.size() + line.name.size() + 800);
    std::snprintf(expected.data(), expected.size(), "%d|%d|%s|%s|%f|%f", static_cast<int>(code),
                  static_cast<int>(line.deviceNumber), line.code.c_str(), line.name.c_str(), line.quantity,
                  line.price);
    if (orbalin::CommandText(code, line) != expected.data())
        std::abort();
    return 0;
}
