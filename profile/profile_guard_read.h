#pragma once

#include "profile_guard.h"

namespace ProfileGuard {

inline Finding Unreadable(const QString& reason) {
    return {Verdict::Unreadable, reason};
}

// Reads the file at path into content when it is a regular file of at most kSizeLimit
// bytes. An absent file is usable and leaves content empty.
Finding ReadRegular(const QString& path, QByteArray& content);

}  // namespace ProfileGuard
