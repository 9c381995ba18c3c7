#include "tool/report/posix/tty_port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

namespace quillon::report {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute's text without the trailing newline; empty when absent.
std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string value = text.str();
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.pop_back();
    return value;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A tty of a USB adapter sits some levels below the USB device (under its
// interface, for usb-serial also under a port node); the first folder up
// with idVendor and idProduct is the device, before the hub above it.
void AddUsbIdentity(const fs::path& device, const fs::path& sysTop, SerialPortInfo& port)
{
    std::error_code ec;
    for (fs::path dir = device; dir != sysTop && dir != dir.parent_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec) || !fs::exists(dir / "idProduct", ec))
            continue;
        const std::string vendor = ReadAttribute(dir / "idVendor");
        const std::string product = ReadAttribute(dir / "idProduct");
        if (!vendor.empty() && !product.empty())
            port.usbId = Lower(vendor) + ":" + Lower(product);
        const std::string maker = ReadAttribute(dir / "manufacturer");
        const std::string name = ReadAttribute(dir / "product");
        port.description = maker.empty() ? name : name.empty() ? maker : maker + " " + name;
        return;
    }
}

// tty name -> the by-id link's path as the user would type it. udev makes
// one link per port; should two point at one tty, the first by name wins.
std::map<std::string, std::string> ByIdLinks(const fs::path& base)
{
    std::map<std::string, std::string> links;
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(base / "dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& link : entries) {
        if (!fs::is_symlink(fs::symlink_status(link, ec)))
            continue;
        // udev's links are relative ("../../ttyUSB0"); a link to a link
        // (made by hand) is followed to its end.
        fs::path target = fs::read_symlink(link, ec);
        if (ec)
            continue;
        target = fs::weakly_canonical(link.parent_path() / target, ec);
        if (!ec && target.has_filename())
            links.emplace(target.filename().string(), "/dev/serial/by-id/" + link.filename().string());
    }
    return links;
}

// Digit runs compare by value, so ttyUSB2 comes before ttyUSB10.
bool NaturalLess(std::string_view a, std::string_view b)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            std::string_view x = a.substr(i, ei - i), y = b.substr(j, ej - j);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& root)
{
    const fs::path base(root.empty() ? "/" : root);
    const fs::path classDir = base / "sys/class/tty";
    std::error_code ec;
    const fs::path sysTop = fs::canonical(base / "sys", ec);
    if (ec)
        return {};
    const auto byId = ByIdLinks(base);

    std::vector<SerialPortInfo> ports;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string tty = it->path().filename().string();
        // Virtual consoles, pty masters and the like have no device behind them.
        std::error_code linkEc;
        const fs::path device = fs::canonical(it->path() / "device", linkEc);
        if (linkEc)
            continue;
        // The serial core registers every 8250 slot it is configured for;
        // where no UART answered the type is 0 (unknown) and opening the
        // port fails, so it is no port to offer.
        if (ReadAttribute(it->path() / "type") == "0")
            continue;
        SerialPortInfo port;
        port.name = "/dev/" + tty;
        AddUsbIdentity(device, sysTop, port);
        if (const auto link = byId.find(tty); link != byId.end())
            port.byId = link->second;
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return NaturalLess(a.name, b.name); });
    return ports;
}

}  // namespace quillon::report
