#include "key_names.h"

#include "protocol/control_ids.h"

namespace KeyNames {

namespace {

struct Entry {
    const char* name;
    int controlId;
};

constexpr Entry kKeys[] = {
    {"ZI", ControlId::ZoomIn},    {"ZO", ControlId::ZoomOut}, {"FF", ControlId::FocusFar},
    {"FN", ControlId::FocusNear}, {"MU", ControlId::MenuUp},  {"SET", ControlId::Set},
    {"UP", ControlId::Up},        {"DOWN", ControlId::Down},  {"LEFT", ControlId::Left},
    {"RIGHT", ControlId::Right},  {"INIT", ControlId::Init},  {"POWER", ControlId::Power},
    {"RESET", ControlId::Reset},  {"CAM", ControlId::Cam},
};

}  // namespace

int FromName(const QString& name) {
    for (const Entry& key : kKeys)
        if (name.compare(QLatin1String(key.name), Qt::CaseInsensitive) == 0)
            return key.controlId;
    return 0;
}

QString Name(int controlId) {
    for (const Entry& key : kKeys)
        if (key.controlId == controlId)
            return QString::fromLatin1(key.name);
    return QString();
}

QStringList All() {
    QStringList names;
    for (const Entry& key : kKeys) names << QString::fromLatin1(key.name);
    return names;
}

QString UnknownWords(const QString& name) {
    // The name is cut short: it comes from the client and goes back into its reply.
    return QStringLiteral("unknown key \"%1\"; the keys are %2")
        .arg(name.left(16), All().join(QStringLiteral(", ")));
}

}  // namespace KeyNames
