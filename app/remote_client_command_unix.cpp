#include <cstdio>

#include "remote_client_command.h"

void WriteStandard(int stream, const QByteArray& text) {
    FILE* to = stream == 1 ? stdout : stderr;
    std::fwrite(text.constData(), 1, size_t(text.size()), to);
    std::fflush(to);
}
