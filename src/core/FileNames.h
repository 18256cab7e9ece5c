#pragma once

#include <QString>

namespace corvane {

// A name (a device's or application's title, say) made fit to be one path
// component: "/" and NUL become "-", and a name that would be empty, "." or
// ".." gets a "_" so that it never names the folder itself or its parent.
QString safeFileName(const QString &name);

} // namespace corvane
