#pragma once

#include "platform/defaults/UserDefaults.h"
#include "settings/SettingsPane.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {

// A pane of a fixed size that counts how often it was about to be shown.
class SizedPane : public SettingsPane {
public:
    SizedPane(const QString &identifier, const QString &title, QSize size)
        : SettingsPane({identifier}, title, QIcon())
    {
        setFixedSize(size);
    }
    void willAppear() override { ++appearances; }
    int appearances = 0;
};

// Keeps the window's stored place in a temporary defaults file.
class SettingsWindowTestBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        defaults = UserDefaults::withFile(dir.filePath("defaults.conf"));
        UserDefaults::setStandard(defaults);
    }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    QTemporaryDir dir;
    std::shared_ptr<UserDefaults> defaults;
};

} // namespace corvane::test
