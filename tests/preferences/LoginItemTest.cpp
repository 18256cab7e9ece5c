#include "common/TestSupport.h"
#include "platform/desktop/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

SystemPaths autostartIn(const QString &folder)
{
    SystemPaths paths;
    paths.autostartDir = folder;
    return paths;
}

} // namespace

TEST(LoginItem, EnablingWritesAnEntryThatStartsTheProgramAndDisablingRemovesIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder that does not exist yet is made.
    const SystemPaths paths = autostartIn(dir.filePath("config/autostart"));
    const QString entry =
        dir.filePath("config/autostart/com.quendrith.corvane.launchagent.desktop");
    EXPECT_EQ(LoginItem::entryPath(paths), entry);
    EXPECT_FALSE(LoginItem::isEnabled(paths));

    ASSERT_TRUE(LoginItem::setEnabled(true, "/opt/My Tools/corvane", "Corvane", paths));
    EXPECT_EQ(readFile(entry), "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Corvane\n"
                               "Exec=\"/opt/My Tools/corvane\"\n");
    EXPECT_TRUE(LoginItem::isEnabled(paths));
    // Enabling again replaces the entry, whatever it held.
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nHidden=true\n"));
    ASSERT_TRUE(LoginItem::setEnabled(true, "/usr/bin/corvane", "Corvane", paths));
    EXPECT_TRUE(LoginItem::isEnabled(paths));

    ASSERT_TRUE(LoginItem::setEnabled(false, "/usr/bin/corvane", "Corvane", paths));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(LoginItem::isEnabled(paths));
    // Nothing to remove is no failure.
    EXPECT_TRUE(LoginItem::setEnabled(false, "/usr/bin/corvane", "Corvane", paths));
}

TEST(LoginItem, TheProgramPathIsOneArgumentWhateverItHolds)
{
    EXPECT_EQ(LoginItem::execArgument("/usr/bin/corvane"), "\"/usr/bin/corvane\"");
    EXPECT_EQ(LoginItem::execArgument("/opt/My Tools/corvane"), "\"/opt/My Tools/corvane\"");
    // Quote, dollar and backtick escaped inside the quotes; a percent sign
    // doubled so it starts no field code; backslashes escaped for the quotes
    // and again for the string value, which readers undo first.
    EXPECT_EQ(LoginItem::execArgument("/opt/a\"b$c`d%e\\f"),
              "\"/opt/a\\\\\"b\\\\$c\\\\`d%%e\\\\\\\\f\"");
    EXPECT_EQ(LoginItem::execArgument("/opt/line\nbreak"), "\"/opt/line\\nbreak\"");
    EXPECT_EQ(LoginItem::entryContents("/x", "Cor\nvane"),
              "[Desktop Entry]\nType=Application\nName=Cor vane\nExec=\"/x\"\n");
}

TEST(LoginItem, OnlyTheMainGroupCanSwitchTheEntryOff)
{
    EXPECT_TRUE(LoginItem::contentsAreEnabled("[Desktop Entry]\nExec=corvane\n"));
    EXPECT_TRUE(LoginItem::contentsAreEnabled("[Desktop Entry]\nHidden=false\n"));
    EXPECT_FALSE(LoginItem::contentsAreEnabled("[Desktop Entry]\nHidden=true\n"));
    EXPECT_FALSE(LoginItem::contentsAreEnabled("[Desktop Entry]\n  Hidden = true  \n"));
    EXPECT_FALSE(
        LoginItem::contentsAreEnabled("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n"));
    EXPECT_TRUE(LoginItem::contentsAreEnabled("[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n"));
    EXPECT_TRUE(LoginItem::contentsAreEnabled(
        "[Desktop Entry]\nExec=corvane\n[Desktop Action Hide]\nHidden=true\n"));
    EXPECT_TRUE(LoginItem::contentsAreEnabled("[Desktop Entry]\n# Hidden=true\nHidden[de]=true\n"));
}

TEST(LoginItem, AFolderThatCannotHoldTheEntryFailsAndChangesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("autostart");
    ASSERT_TRUE(writeFile(file, "a file"));
    const SystemPaths paths = autostartIn(file);
    EXPECT_FALSE(LoginItem::setEnabled(true, "/usr/bin/corvane", "Corvane", paths));
    EXPECT_FALSE(LoginItem::isEnabled(paths));
    EXPECT_EQ(readFile(file), "a file");

    // A folder where the entry should be is neither read as one nor removed.
    const SystemPaths folderPaths = autostartIn(dir.filePath("folder"));
    ASSERT_TRUE(QDir().mkpath(LoginItem::entryPath(folderPaths)));
    EXPECT_FALSE(LoginItem::isEnabled(folderPaths));
    EXPECT_FALSE(LoginItem::setEnabled(false, "/usr/bin/corvane", "Corvane", folderPaths));

    EXPECT_FALSE(LoginItem::setEnabled(true, "/usr/bin/corvane", "Corvane", autostartIn("")));
    EXPECT_FALSE(LoginItem::isEnabled(autostartIn("")));
}
