#include "common/TestSupport.h"
#include "platform/processes/ChildProcess.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace corvane::test {

std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv)
{
    // The menus' rule, checked in every test of the shell: no tool starts on
    // the main thread.
    ChildProcess::setMainThreadLaunchHandler([](const QString &path, const QStringList &arguments) {
        ADD_FAILURE() << "Tool started on the main thread: " << path.toStdString() << ' '
                      << arguments.join(' ').toStdString();
    });
    return std::make_unique<QApplication>(argc, argv);
}

} // namespace corvane::test
