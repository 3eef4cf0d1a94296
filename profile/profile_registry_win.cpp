#include "profile_registry.h"

#include <windows.h>

namespace ProfileRegistry {
namespace {

// The longest text the program keeps is a port's device path; anything near this is not
// a value of its own.
constexpr DWORD kMaxTextBytes = 4096;

class Key {
public:
    Key(const QString& keyPath, const QString& section) {
        const QString path = keyPath + QLatin1Char('\\') + section;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, reinterpret_cast<LPCWSTR>(path.utf16()), 0,
                          KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
            handle = nullptr;
    }
    ~Key() {
        if (handle)
            RegCloseKey(handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY handle = nullptr;
};

QString TypeName(DWORD type) {
    switch (type) {
        case REG_BINARY:
            return QStringLiteral("REG_BINARY");
        case REG_MULTI_SZ:
            return QStringLiteral("REG_MULTI_SZ");
        case REG_NONE:
            return QStringLiteral("REG_NONE");
        default:
            return QStringLiteral("registry type %1").arg(type);
    }
}

Read Text(HKEY key, LPCWSTR name, DWORD size) {
    if (size > kMaxTextBytes)
        return {{},
                QStringLiteral("is %1 bytes of text, far more than the program ever "
                               "writes")
                    .arg(size)};
    QByteArray data(qsizetype(size) + 2, '\0');
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {{}, QStringLiteral("changed while it was read")};
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()),
                                      qsizetype(size / 2));
    while (text.endsWith(QChar(0))) text.chop(1);
    // QSettings writes text that starts with '@' with a second '@' in front.
    if (text.startsWith(QLatin1String("@@")))
        return {text.mid(1), {}};
    if (text.startsWith(QLatin1Char('@')))
        return {{},
                QStringLiteral("holds an encoded value (%1...) the program never writes")
                    .arg(text.left(12))};
    return {text, {}};
}

}  // namespace

Read ReadValue(const QString& keyPath, const QString& section, const QString& name) {
    const Key key(keyPath, section);
    if (!key.handle)
        return {};
    const LPCWSTR valueName = reinterpret_cast<LPCWSTR>(name.utf16());
    DWORD type = 0;
    DWORD size = 0;
    const LONG rc = RegQueryValueExW(key.handle, valueName, nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND)
        return {};
    if (rc != ERROR_SUCCESS)
        return {{}, QStringLiteral("cannot be read (error %1)").arg(rc)};
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return Text(key.handle, valueName, size);
    if ((type == REG_DWORD && size == 4) || (type == REG_QWORD && size == 8)) {
        quint64 number = 0;
        if (RegQueryValueExW(key.handle, valueName, nullptr, &type,
                             reinterpret_cast<LPBYTE>(&number), &size) != ERROR_SUCCESS)
            return {{}, QStringLiteral("changed while it was read")};
        if (type == REG_DWORD)
            return {qlonglong(quint32(number)), {}};
        return {qlonglong(number), {}};
    }
    if (type == REG_DWORD || type == REG_QWORD)
        return {{}, QStringLiteral("is a number of %1 bytes").arg(size)};
    return {{},
            QStringLiteral("is a %1 value, which the program never writes").arg(TypeName(type))};
}

QStringList ValueNames(const QString& keyPath, const QString& section) {
    const Key key(keyPath, section);
    QStringList names;
    if (!key.handle)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        const LONG rc =
            RegEnumValueW(key.handle, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA)
            continue;  // a name longer than any key the program uses
        if (rc != ERROR_SUCCESS)
            break;
        names << QString::fromWCharArray(name, int(length));
    }
    return names;
}

}  // namespace ProfileRegistry
