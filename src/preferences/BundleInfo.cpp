#include "preferences/BundleInfo.h"

#include "preferences/BuildConfig.h"

#include <QCoreApplication>

namespace corvane {

BundleInfo BundleInfo::main()
{
    return {QCoreApplication::applicationName(), QString::fromUtf8(build::version),
            QString::fromUtf8(build::buildNumber)};
}

} // namespace corvane
