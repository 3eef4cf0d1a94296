#include "problem_words.h"

#include "port_name.h"

QString DescribeProblem(int port, const PortProblem& problem) {
    const PortWords& words = SystemPortWords();
    const QString where = problem.device.isEmpty()
                              ? QStringLiteral("COM%1").arg(port)
                              : QStringLiteral("COM%1 (%2)").arg(port).arg(problem.device);
    switch (problem.fault) {
        case PortFault::None:
            return QString();
        case PortFault::NoSuchDevice:
            return QStringLiteral("%1: no such %2. %3")
                .arg(where, words.device, words.missingAdvice.arg(port));
        case PortFault::PermissionDenied:
            return QStringLiteral("%1: permission denied. %2").arg(where, words.permissionAdvice);
        case PortFault::Busy:
            return QStringLiteral(
                       "%1: held by another program%2. Close it, then press "
                       "COMMUNICATION SET.")
                .arg(where,
                     problem.detail.isEmpty() ? QString() : QStringLiteral(", ") + problem.detail);
        case PortFault::NotSerial:
            return QStringLiteral("%1: not a serial %2.").arg(where, words.device);
        case PortFault::Multiplexer:
            return QStringLiteral(
                       "%1: refused: this is the pseudo-terminal multiplexer, not a "
                       "serial port; frames sent there would reach nobody.")
                .arg(where);
        case PortFault::UnusableEntry:
            return QStringLiteral("COM%1: %2 can't be used: %3.")
                .arg(port)
                .arg(words.entryPlace, problem.detail);
        case PortFault::Refused:
            return problem.detail.isEmpty()
                       ? QStringLiteral("%1: the device refused the line settings.").arg(where)
                       : QStringLiteral("%1: the line settings were refused: %2.")
                             .arg(where, problem.detail);
        case PortFault::Network:
            return QStringLiteral("%1: %2.").arg(where, problem.detail);
        case PortFault::Failed:
            break;
    }
    return problem.detail.isEmpty()
               ? QStringLiteral("%1: could not be opened.").arg(where)
               : QStringLiteral("%1: could not be opened: %2.").arg(where, problem.detail);
}
