#include "remote_client_command.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include "profile/profile_store.h"
#include "remote/access/client_book.h"

namespace {

void Say(const QString& text) {
    WriteStandard(2, (text + QLatin1Char('\n')).toUtf8());
}

}  // namespace

int RunRemoteClientCommand(int argc, char** argv, const char* companyKey) {
    bool asked = false;
    for (int i = 1; i < argc; ++i) asked = asked || QByteArray(argv[i]) == "--remote-client";
    if (!asked)
        return -1;
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QString::fromLatin1(companyKey));
    app.setApplicationName(QFileInfo(app.applicationFilePath()).completeBaseName());
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--remote-client"));
    const bool revoke = args.contains(QStringLiteral("--revoke"));
    if (at + 1 >= args.size() || args.at(at + 1).startsWith(QLatin1String("--")) ||
        args.size() != (revoke ? 4 : 3)) {
        Say(QStringLiteral("usage: velmor --remote-client NAME [--revoke]"));
        return 2;
    }
    const QString name = args.at(at + 1);
    SettingsProfileStore profile(app.organizationName(), app.applicationName());
    ClientBook book(profile);
    if (revoke) {
        QString error;
        if (!book.Revoke(name, error)) {
            Say(QStringLiteral("velmor: ") + error);
            return 1;
        }
        Say(QStringLiteral("velmor: client \"%1\" revoked").arg(name));
        return 0;
    }
    const ClientBook::Added added = book.Add(name);
    if (!added.ok) {
        Say(QStringLiteral("velmor: ") + added.error);
        return 1;
    }
    // The token alone on standard output, for a script to take; it is kept nowhere.
    WriteStandard(1, added.token.toUtf8() + '\n');
    Say(QStringLiteral("velmor: client \"%1\" added; its token is shown this once. The service "
                       "listens once [Remote] Enabled=1 (or from Remote keypad..., F3).")
            .arg(name));
    return 0;
}
