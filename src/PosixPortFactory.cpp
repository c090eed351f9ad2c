// sysfs port listing. Every tty class entry backed by a device is a port,
// except the serial-core placeholders: the 8250 driver registers ttyS0..ttySn
// whether or not a UART answers, and those report type 0 (PORT_UNKNOWN). Their
// device link cannot tell them apart, as it points at the driver's port
// device either way.
#include "PosixPortFactory.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "PosixSerialPort.h"

namespace fs = std::filesystem;

namespace
{
const char kAcmPrefix[] = "ttyACM";
const char kUsbSerialPrefix[] = "ttyUSB";
const int kUartTypeUnknown = 0; // serial_core's PORT_UNKNOWN

bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Adapter links first: CDC ACM is how the adapter itself shows up.
int group(const std::string& name)
{
    if (startsWith(name, kAcmPrefix))
        return 0;
    if (startsWith(name, kUsbSerialPrefix))
        return 1;
    return 2;
}

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Natural order: runs of digits compare by value, so ttyACM2 < ttyACM10.
bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
    {
        if (isDigit(a[i]) && isDigit(b[j]))
        {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            std::size_t zi = i, zj = j;
            while (zi + 1 < ei && a[zi] == '0')
                ++zi;
            while (zj + 1 < ej && b[zj] == '0')
                ++zj;
            if (ei - zi != ej - zj)
                return ei - zi < ej - zj;
            int c = a.compare(zi, ei - zi, b, zj, ej - zj);
            if (c != 0)
                return c < 0;
            if (ei - i != ej - j) // same value: fewer leading zeros first
                return ei - i < ej - j;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

bool portOrder(const std::string& a, const std::string& b)
{
    int ga = group(a), gb = group(b);
    if (ga != gb)
        return ga < gb;
    return naturalLess(a, b);
}
} // namespace

PosixPortFactory::PosixPortFactory(const std::string& sysRoot, const std::string& devRoot)
    : _sysRoot(sysRoot), _devRoot(devRoot), _next(0)
{
}

std::string PosixPortFactory::begin()
{
    _names = listPorts();
    _next = 0;
    return next();
}

std::string PosixPortFactory::next()
{
    if (_next >= _names.size())
    {
        _names.clear();
        _next = 0;
        return end();
    }
    return _names[_next++];
}

std::vector<std::string> PosixPortFactory::listPorts() const
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(fs::path(_sysRoot) / "class" / "tty", ec);
    if (ec)
        return names;
    for (; it != fs::directory_iterator(); it.increment(ec))
    {
        if (ec)
            break;
        std::string name = it->path().filename().string();
        std::string dir = it->path().string();
        // Virtual consoles, pseudo-terminals and the like have no device.
        std::error_code linkEc;
        if (!fs::exists(fs::path(dir) / "device", linkEc))
            continue;
        if (!hasUart(dir))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), portOrder);
    return names;
}

bool PosixPortFactory::hasUart(const std::string& ttyDir) const
{
    std::ifstream type(ttyDir + "/type");
    if (!type)
        return true; // not a serial-core port: its device is enough
    int value = kUartTypeUnknown;
    if (!(type >> value))
        return false;
    return value != kUartTypeUnknown;
}

bool PosixPortFactory::underUsb(const std::string& ttyName) const
{
    if (ttyName.empty())
        return false;
    std::error_code ec;
    fs::path root = fs::canonical(_sysRoot, ec);
    if (ec)
        return false;
    fs::path dev = fs::canonical(fs::path(_sysRoot) / "class" / "tty" / ttyName / "device", ec);
    if (ec)
        return false;
    // Both USB devices and their interfaces name "usb" as their subsystem.
    const std::string rootText = root.string() + "/";
    for (fs::path p = dev; startsWith(p.string(), rootText); p = p.parent_path())
    {
        fs::path subsystem = fs::read_symlink(p / "subsystem", ec);
        if (!ec && subsystem.filename() == "usb")
            return true;
        if (p == p.parent_path())
            break;
    }
    return false;
}

SerialPort::Ptr PosixPortFactory::create(const std::string& name)
{
    // The name as given, and the device a link such as
    // /dev/serial/by-id/usb-...-if00 leads to.
    std::string path = name.find('/') == std::string::npos ? _devRoot + "/" + name : name;
    std::vector<std::string> ttyNames = {fs::path(name).filename().string()};
    std::error_code ec;
    fs::path device = fs::canonical(path, ec);
    if (!ec)
        ttyNames.push_back(device.filename().string());
    bool isUsb = false;
    for (const std::string& ttyName : ttyNames)
        isUsb = isUsb || group(ttyName) < 2 || underUsb(ttyName);
    return create(name, isUsb);
}

SerialPort::Ptr PosixPortFactory::create(const std::string& name, bool isUsb)
{
    return SerialPort::Ptr(new PosixSerialPort(name, isUsb, _devRoot));
}
