#include "model/DeviceCapture.h"
#include "model/DeviceStatusBar.h"
#include "model/ScreenshotDateFormatter.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(CaptureTextTest, StatusBarTimeText)
{
    EXPECT_EQ(statusBarTimeText("9:41 AM"), "09:41");
    EXPECT_EQ(statusBarTimeText("12:05 PM"), "12:05");
    EXPECT_EQ(statusBarTimeText("12:05 am"), "00:05");
    EXPECT_EQ(statusBarTimeText("1:2pm"), "13:02");
    EXPECT_EQ(statusBarTimeText("11:59  Pm"), "23:59");
    for (const char *unchanged :
         {"9:41", "13:00 PM", "0:10 AM", "9:60 AM", "9:41 AM later", "", "١:٠٥ PM"})
        EXPECT_EQ(statusBarTimeText(unchanged), QString(unchanged));
}

TEST(CaptureTextTest, VersionGateIsNumeric)
{
    EXPECT_TRUE(xcodeIsAtLeast("11.4", "11.4"));
    EXPECT_TRUE(xcodeIsAtLeast("11.10", "11.4"));
    EXPECT_TRUE(xcodeIsAtLeast("16.0", "11.4"));
    EXPECT_FALSE(xcodeIsAtLeast("11.3.1", "11.4"));
    EXPECT_FALSE(xcodeIsAtLeast("9.4", "11.4"));
}

TEST(CaptureTextTest, FileNamesStayOneComponent)
{
    EXPECT_EQ(screenshotFileName("iPhone 15", "2024-03-05 14.07.09", "jpeg"),
              "Simulator Screen Shot - iPhone 15 - 2024-03-05 14.07.09.jpg");
    EXPECT_EQ(screenshotFileName("A/B", "D", "bmp"), "Simulator Screen Shot - A-B - D.png");
    EXPECT_EQ(recordingFileName(QString("x") + QChar(0) + "y", "D"),
              "Simulator Screen Recording - x-y - D.mp4");
}

TEST(CaptureTextTest, DateTextIsLocalAndLocaleFree)
{
    const QDateTime local(QDate(2024, 3, 5), QTime(14, 7, 9));
    EXPECT_EQ(ScreenshotDateFormatter::string(local), "2024-03-05 14.07.09");
    EXPECT_EQ(ScreenshotDateFormatter::string(local.toUTC()), "2024-03-05 14.07.09");
    ScreenshotDateFormatter::setClock([local] { return local; });
    EXPECT_EQ(ScreenshotDateFormatter::currentDateText(), "2024-03-05 14.07.09");
    ScreenshotDateFormatter::setClock(nullptr);
}
