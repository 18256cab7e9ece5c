#pragma once

#include "common/TestSupport.h"
#include "model/Application.h"
#include "model/Container.h"
#include "model/Device.h"
#include "platform/PropertyList.h"
#include "platform/SystemPaths.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {

// An installed application read from a bundle in a temporary tree, with the
// group containers the test gives it (no simulator tool lists them).
class ApplicationFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths paths = SystemPaths::current();
        paths.home = m_dir.filePath("home");
        paths.temporaryDir = m_dir.filePath("tmp");
        SystemPaths::setCurrent(paths);
        QDir().mkpath(paths.temporaryDir);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    ApplicationPtr makeApplication(const QString &identifier = "com.example.foo",
                                   const QStringList &groups = {})
    {
        if (!m_device)
            m_device = Device::initFromListLine(
                "iPhone 15 (0C6F1E2A-1111-4222-8333-444455556666) (Shutdown)",
                {Runtime::System::iOS, "17.2"}, nullptr);
        const QString bundle = m_dir.filePath("apps/9D8C7B6A-5F4E-4D3C-8B2A-1F0E9D8C7B6A/Foo.app");
        QDir().mkpath(bundle);
        EXPECT_TRUE(PropertyList::writeFile(bundle + "/Info.plist",
                                            QVariantMap{{"CFBundleIdentifier", identifier},
                                                        {"CFBundleName", "Foo"},
                                                        {"CFBundleExecutable", "FooExec"},
                                                        {"MinimumOSVersion", "16.0"},
                                                        {"CFBundleShortVersionString", "1.2"},
                                                        {"CFBundleVersion", "34"}}));
        auto application = Application::make(QUrl::fromLocalFile(bundle + "/"), m_device, nullptr,
                                             Application::SimulatorCheck::byCaller);
        std::vector<std::shared_ptr<Container>> containers;
        for (const QString &group : groups)
            containers.push_back(std::make_shared<Container>(
                group, group, QUrl::fromLocalFile(m_dir.filePath("groups/" + group))));
        application->setCachedGroupContainers(containers);
        return application;
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    QTemporaryDir m_dir;
    DevicePtr m_device;
};

} // namespace corvane::test
