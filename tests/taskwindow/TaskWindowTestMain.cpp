#include "common/TestSupport.h"

#include <QApplication>

namespace corvane::test {

std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv)
{
    return std::make_unique<QApplication>(argc, argv);
}

} // namespace corvane::test
