#include "common/TestSupport.h"
#include "platform/DispatchQueue.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>

namespace corvane::test {

// Suites that need widgets define their own.
__attribute__((weak)) std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv)
{
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace corvane::test

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Tests never need a display, also when the build lists them.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = corvane::test::makeApplication(argc, argv);
    const int result = RUN_ALL_TESTS();
    corvane::DispatchQueue::waitUntilIdle(std::chrono::seconds(3));
    return result;
}
