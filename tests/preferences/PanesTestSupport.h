#pragma once

#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/ToolsetManager.h"
#include "location/LocationPresetRepository.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {

// Settings, presets, autostart folder and home in a temporary tree; waits for
// the panes' background work before the next test.
class PaneTestBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setPaths(SystemPaths::current());
        CorvaneSettings::resetShared();
        StatusBarPresetRepository::resetShared();
        LocationPresetRepository::resetShared();
        openPanel = std::make_shared<RecordingOpenPanel>();
        OpenPanel::setShared(openPanel);
    }

    void TearDown() override
    {
        EXPECT_TRUE(waitForBackgroundWork());
        ToolsetManager::resetShared();
        OpenPanel::setShared(nullptr);
        StatusBarPresetRepository::resetShared();
        LocationPresetRepository::resetShared();
        CorvaneSettings::resetShared();
        SystemPaths::resetToEnvironment();
    }

    // The given outside paths, with everything the program writes kept here.
    void setPaths(SystemPaths paths)
    {
        paths.home = path("home");
        paths.configDir = path("config");
        paths.applicationSupport = path("support");
        paths.syncDir = path("sync");
        paths.autostartDir = path("autostart");
        SystemPaths::setCurrent(paths);
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }

    QTemporaryDir dir;
    std::shared_ptr<RecordingOpenPanel> openPanel;
};

} // namespace corvane::test
