#include <QHash>
#include <algorithm>

#include "port_catalog.h"
#include "port_claim_win.h"

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

namespace {

// The names in the device map are driver paths (\Device\Serial0, \Device\VCP0), and its
// data the port names; the longest either can be is far below these.
constexpr DWORD kMaxName = 256;
constexpr DWORD kMaxData = 512;

// The serial device map: one REG_SZ per port, "\Device\Serial0" = "COM1". Read with the
// registry API itself: QSettings takes the backslashes in the value names for key paths.
QList<SerialPortFacts> DeviceMap() {
    QList<SerialPortFacts> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxName];
        DWORD nameLength = kMaxName;
        wchar_t data[kMaxData / sizeof(wchar_t) + 1] = {};
        DWORD dataBytes = kMaxData;
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<LPBYTE>(data), &dataBytes);
        if (rc == ERROR_MORE_DATA)
            continue;  // not a port name
        if (rc != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        SerialPortFacts facts;
        facts.device = QString::fromWCharArray(data, int(dataBytes / sizeof(wchar_t))).trimmed();
        while (facts.device.endsWith(QChar(0))) facts.device.chop(1);
        facts.driverName = QString::fromWCharArray(name, int(nameLength));
        if (facts.device.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            ports << facts;
    }
    RegCloseKey(key);
    return ports;
}

QString DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[kMaxData] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<PBYTE>(text), sizeof(text) - 2,
                                           nullptr) ||
        type != REG_SZ)
        return QString();
    return QString::fromWCharArray(text).trimmed();
}

// The port a device of the Ports class is, from its device key's PortName.
QString PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return QString();
    wchar_t text[kMaxName] = {};
    DWORD bytes = sizeof(text) - 2;
    DWORD type = 0;
    const LONG rc =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<LPBYTE>(text), &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? QString::fromWCharArray(text).trimmed()
                                                 : QString();
}

// What Device Manager shows of each port it knows, by port name. A USB device's instance
// ID ends in the serial number its maker gave it ("USB\VID_0403&PID_6001\A1B2C3"); one the
// system made up holds '&'.
QHash<QString, SerialPortFacts> DeviceManagerPorts() {
    QHash<QString, SerialPortFacts> known;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return known;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const QString port = PortNameOf(set, device).toUpper();
        if (port.isEmpty())
            continue;
        SerialPortFacts facts;
        facts.device = port;
        facts.description = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
        if (facts.description.isEmpty())
            facts.description = DeviceProperty(set, device, SPDRP_DEVICEDESC);
        facts.manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        wchar_t id[kMaxData] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, kMaxData, nullptr)) {
            const QString instance = QString::fromWCharArray(id);
            facts.usb = instance.startsWith(QLatin1String("USB\\"), Qt::CaseInsensitive) ||
                        instance.startsWith(QLatin1String("FTDIBUS\\"), Qt::CaseInsensitive);
            facts.bluetooth = instance.startsWith(QLatin1String("BTHENUM\\"), Qt::CaseInsensitive);
            const QString last = instance.section(QLatin1Char('\\'), -1);
            if (facts.usb && !last.contains(QLatin1Char('&')))
                facts.serialNumber = last;
        }
        known.insert(port, facts);
    }
    SetupDiDestroyDeviceInfoList(set);
    return known;
}

}  // namespace

// The ports Windows has: the serial device map names each one, and Device Manager's Ports
// class says what it is, where it knows (under Wine it may know none).
QList<SerialPortFacts> SystemPortCatalog::Ports() const {
    // A new listing: the Bluetooth ports are looked up again at the next Holder().
    bluetoothKnown = false;
    const QHash<QString, SerialPortFacts> known = DeviceManagerPorts();
    QList<SerialPortFacts> ports;
    for (SerialPortFacts facts : DeviceMap()) {
        facts.device = facts.device.toUpper();
        const auto found = known.constFind(facts.device);
        if (found != known.constEnd()) {
            facts.description = found->description;
            facts.manufacturer = found->manufacturer;
            facts.serialNumber = found->serialNumber;
            facts.usb = found->usb;
            facts.bluetooth = found->bluetooth;
        }
        ports << facts;
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortFacts& a, const SerialPortFacts& b) {
        return a.device.mid(3).toInt() < b.device.mid(3).toInt();
    });
    return ports;
}

// The port's mutex tells a Velmor that holds it; any other holder shows only as a refused
// open. The trial open is let go at once, and a port that opens is no one's. A Bluetooth
// port is not tried: opening it connects to the far device, for seconds if it is away.
QString SystemPortCatalog::Holder(const QString& device) const {
    const QString claimName = PortClaimName(device);
    HANDLE claim = OpenMutexW(SYNCHRONIZE, FALSE, reinterpret_cast<LPCWSTR>(claimName.utf16()));
    if (claim) {
        CloseHandle(claim);
        return QStringLiteral("Velmor");
    }
    if (!bluetoothKnown) {
        const QHash<QString, SerialPortFacts> known = DeviceManagerPorts();
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            if (it->bluetooth)
                bluetoothPorts.insert(it.key());
        bluetoothKnown = true;
    }
    if (bluetoothPorts.contains(device.toUpper()))
        return QString();
    const QString path = QStringLiteral("\\\\.\\") + device;
    HANDLE port = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port != INVALID_HANDLE_VALUE) {
        CloseHandle(port);
        return QString();
    }
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
               ? QStringLiteral("another program")
               : QString();
}
