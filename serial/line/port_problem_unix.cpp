#include "port_problem.h"

#include <cerrno>
#include <cstring>

PortFault FaultFromSystemError(int error) {
    switch (error) {
        case 0:
            return PortFault::None;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return PortFault::NoSuchDevice;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortFault::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return PortFault::Busy;
        case ENOTTY:
            return PortFault::NotSerial;
        default:
            return PortFault::Failed;
    }
}

QString SystemErrorWords(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
