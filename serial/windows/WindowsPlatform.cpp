// The serial backend, port discovery and process settings on Windows.
#include "serial/Platform.h"

#include "serial/windows/PortList.h"
#include "serial/windows/WideText.h"
#include "serial/windows/Win32Api.h"
#include "serial/windows/WinEventLoop.h"
#include "serial/windows/WinLine.h"

#include <windows.h>

// GUID_DEVCLASS_PORTS defined here rather than taken from a library.
#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace isp::platform {
namespace {

// The COM names of the ports present now: the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM ("\Device\Serial0" = "COM1").
std::vector<std::string> registeredComNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key)
        != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[64];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(
            key, index, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        names.push_back(windows::utf8(std::wstring_view(data, wcsnlen(data, dataBytes / sizeof(wchar_t)))));
    }
    ::RegCloseKey(key);
    return names;
}

std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    wchar_t buffer[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(
            set, &device, property, nullptr, reinterpret_cast<BYTE*>(buffer), sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    // A multi-string (the hardware ids) gives its first string.
    return windows::utf8(buffer);
}

std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD bytes = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? windows::utf8(name) : std::string{};
}

// The ports of the device manager's class "Ports (COM & LPT)" that are
// present now.
std::vector<DevicePort> devicePorts()
{
    std::vector<DevicePort> ports;
    const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        DevicePort port;
        port.portName = portNameOf(set, device);
        if (port.portName.empty())
            continue; // a printer port
        port.friendlyName = deviceProperty(set, device, SPDRP_FRIENDLYNAME);
        port.manufacturer = deviceProperty(set, device, SPDRP_MFG);
        port.hardwareId = deviceProperty(set, device, SPDRP_HARDWAREID);
        wchar_t instance[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr))
            port.instanceId = windows::utf8(instance);
        ports.push_back(std::move(port));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return ports;
}

} // namespace

std::unique_ptr<MainLoop> makeMainLoop()
{
    return std::make_unique<WinEventLoop>();
}

std::unique_ptr<SerialLine> makeSerialLine(EventLoop& loop)
{
    return std::make_unique<WinLine>(loop, win32::makeRealWin32Api());
}

std::unique_ptr<PortDirectory> makePortDirectory()
{
    return std::make_unique<ComPortDirectory>(registeredComNames);
}

std::vector<PortInfo> listSerialPorts()
{
    return windowsPortList(registeredComNames(), devicePorts());
}

// Windows tells whether another program has a COM port open only to a
// program that opens it, and opening may reset the board on it (DTR): here
// a port is missing or present.
PortUse portAvailability(const std::string& device)
{
    PortUse use;
    const std::string name = device.rfind(R"(\\.\)", 0) == 0 ? device.substr(4) : device;
    wchar_t target[512];
    const std::wstring wide(name.begin(), name.end());
    if (comNumber(name) == 0 || ::QueryDosDeviceW(wide.c_str(), target, 512) == 0) {
        use.state = PortUse::State::Missing;
        use.text = "missing";
        return use;
    }
    use.state = PortUse::State::Unknown;
    use.text = "present (whether another program has it shows when it is opened)";
    return use;
}

void tuneProcessForTiming()
{
    // The system timer at 1 ms for this process (Windows restores it when
    // the process ends): waits that are not on a high resolution timer, and
    // the fall-back timer itself, are then late by at most about that.
    ::timeBeginPeriod(1);
}

} // namespace isp::platform
