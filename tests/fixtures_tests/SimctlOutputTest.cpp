#include "FixtureTestSupport.h"

#include "common/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::fixture::checks;

namespace {

QStringList lines(const QByteArray &bytes)
{
    QStringList result = QString::fromUtf8(bytes).split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

QStringList subcommandWords(const QByteArray &usage)
{
    QStringList words;
    bool after = false;
    for (const QString &line : lines(usage)) {
        if (line == "Subcommands:") {
            after = true;
            continue;
        }
        if (after)
            words.append(line.trimmed().section(' ', 0, 0));
    }
    return words;
}

// Every line shape of `simctl list`, each seen in the collected real outputs.
const QList<QRegularExpression> &listShapes()
{
    static const QList<QRegularExpression> shapes{
        QRegularExpression(R"(^== (Device Types|Runtimes|Devices|Device Pairs) ==$)"),
        QRegularExpression(R"(^[^ ].* \(com\.apple\.CoreSimulator\.SimDeviceType\.[^()]+\)$)"),
        QRegularExpression(R"(^\w+ \d+(\.\d+)+ \(\d+(\.\d+)+ - \w+\) - )"
                           R"(com\.apple\.CoreSimulator\.SimRuntime\.[\w-]+$)"),
        QRegularExpression(R"(^-- \w+ \d+(\.\d+)+ --$)"),
        QRegularExpression(R"(^-- Unavailable: com\.apple\.CoreSimulator\.SimRuntime\.[\w-]+ --$)"),
        QRegularExpression(R"(^    [^ ].* \([0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\) )"
                           R"(\((Shutdown|Booted)\)( \(unavailable, [^()]+\))?$)"),
        QRegularExpression(
            R"(^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12} \(active, disconnected\)$)"),
        QRegularExpression(
            R"(^    (Watch|Phone): .+ \([0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\) )"
            R"(\((Shutdown|Booted)\)$)"),
    };
    return shapes;
}

} // namespace

TEST(FakeSimctlUsage, ListsEverySubcommandTabIndentedAndPaddedLikeTheRealUsage)
{
    SmallTree small;
    const RunResult result = small.simctl({});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.err.isEmpty());
    const QStringList usage = lines(result.out);
    ASSERT_FALSE(usage.isEmpty());
    EXPECT_TRUE(usage.first().startsWith("usage: simctl "));

    const QString real = QString::fromUtf8(
        test::readFile(test::realWorldPath("simctl-help/dump__simctl-usage-xcode9-10.txt")));
    const QRegularExpression entry(R"(^\t([a-z_]+) +\S)");
    for (const QString &realLine : real.split('\n')) {
        const auto match = entry.match(realLine);
        if (!match.hasMatch())
            continue;
        // Words the real Xcode 9 offered keep their column and text here.
        const QString word = match.captured(1);
        const auto ours = std::find_if(usage.begin(), usage.end(), [&](const QString &line) {
            return line.startsWith("\t" + word + " ");
        });
        ASSERT_NE(ours, usage.end()) << word.toStdString();
        EXPECT_EQ(ours->indexOf(QRegularExpression(R"(\S)"), 1 + word.size()),
                  realLine.indexOf(QRegularExpression(R"(\S)"), 1 + word.size()));
    }
    for (const QString &word :
         {"status_bar", "ui", "push", "privacy", "keychain", "get_app_container"})
        EXPECT_TRUE(subcommandWords(result.out).contains(word)) << word.toStdString();
    EXPECT_FALSE(subcommandWords(result.out).contains("-gps-"));
}

TEST(FakeSimctlUsage, ShowsOnlyTheConfiguredSubsetAndUnknownWordsGiveTheUsage)
{
    XcodeSpec spec;
    spec.subcommands = {"list", "boot", "io", "-gps-"};
    SmallTree small(false, spec);
    EXPECT_EQ(subcommandWords(small.simctl({}).out), (QStringList{"boot", "list", "io", "-gps-"}));
    EXPECT_EQ(small.simctl({"help"}).out, small.simctl({}).out);

    for (const QStringList &arguments :
         {QStringList{"shutdown", small.udid}, QStringList{"frobnicate"}}) {
        const RunResult refused = small.simctl(arguments);
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_TRUE(refused.out.startsWith("usage: simctl"));
        EXPECT_TRUE(refused.err.isEmpty());
    }
}

TEST(FakeSimctlUsage, HelpTextsMatchTheRealOnesAndGateNotSupportedByVersion)
{
    SmallTree small;
    for (const QString &name : {"push", "keychain", "privacy"}) {
        const QByteArray real = test::readFile(
            test::realWorldPath("simctl-help/blog2020__xcode11.4-help-" + name + ".txt"));
        EXPECT_EQ(small.simctl({"help", name}).out.trimmed(), real.trimmed()) << name.toStdString();
    }

    const auto networkLine = [](const FixtureTree &tree, const QString &xcode) {
        const RunResult help =
            FixtureTree::run(FixtureTree::simctlPath(xcode), {"help", "status_bar"});
        const QStringList all = lines(help.out);
        const auto index = all.indexOf("        --dataNetwork <dataNetworkType>");
        return index >= 0 ? all.value(index + 1) : QString();
    };
    const QString old = small.tree.addXcode({"Xcode-15.3.app", "15.3", "15E204a", {}, {}});
    const QString current = small.tree.addXcode({"Xcode-16.app", "16.0", "16A242d", {}, {}});
    EXPECT_FALSE(networkLine(small.tree, old).contains("'notSupported'"));
    EXPECT_TRUE(networkLine(small.tree, old).contains("'hide'"));
    EXPECT_TRUE(networkLine(small.tree, current).contains("'notSupported'"));

    const QByteArray real =
        test::readFile(test::realWorldPath("simctl-help/blog2020__xcode11.4-help-status_bar.txt"));
    const QString legacy = small.tree.addXcode({"Xcode-11.4.app", "11.4", "11E146", {}, {}});
    EXPECT_EQ(
        FixtureTree::run(FixtureTree::simctlPath(legacy), {"help", "status_bar"}).out.trimmed(),
        real.trimmed());
}

TEST(FakeSimctlList, EveryLineHasAShapeSeenInRealOutputs)
{
    // The shapes themselves come from real lists: each occurs in one of them.
    QStringList realLines;
    const QDir folder(test::realWorldPath("simctl-list-text"));
    for (const QString &name : folder.entryList({"*.txt"}))
        realLines += QString::fromUtf8(test::readFile(folder.filePath(name))).split('\n');
    for (const QRegularExpression &shape : listShapes()) {
        EXPECT_TRUE(std::any_of(realLines.begin(), realLines.end(), [&](const QString &line) {
            return shape.match(line).hasMatch();
        })) << shape.pattern().toStdString();
    }

    FixtureTree tree;
    tree.selectXcode(tree.addXcode());
    tree.addRuntime("iOS", "17.5");
    tree.addRuntime("watchOS", "10.5");
    const QString phone = tree.addDevice({"iPhone 15 Pro", {}, "iOS 17.5", true, {}});
    const QString watch = tree.addDevice({"Apple Watch Series 9 (45mm)", {}, "watchOS 10.5"});
    tree.addDevice({"iPhone 14", {}, "iOS 16.0"});
    tree.addPair(watch, phone);

    const RunResult result = tree.simctl({"list"});
    ASSERT_EQ(result.exitCode, 0);
    const QStringList output = lines(result.out);
    for (const QString &line : output) {
        EXPECT_TRUE(std::any_of(
            listShapes().begin(), listShapes().end(),
            [&](const QRegularExpression &shape) { return shape.match(line).hasMatch(); }))
            << line.toStdString();
    }
    EXPECT_TRUE(
        output.contains("iOS 17.5 (17.5 - 21F79) - com.apple.CoreSimulator.SimRuntime.iOS-17-5"));
    EXPECT_TRUE(output.contains("-- Unavailable: com.apple.CoreSimulator.SimRuntime.iOS-16-0 --"));
    EXPECT_TRUE(output.contains("    iPhone 15 Pro (" + phone + ") (Booted)"));
    EXPECT_TRUE(
        output.contains("    Watch: Apple Watch Series 9 (45mm) (" + watch + ") (Shutdown)"));
    const auto unavailable = std::find_if(output.begin(), output.end(), [](const QString &line) {
        return line.startsWith("    iPhone 14 (");
    });
    ASSERT_NE(unavailable, output.end());
    EXPECT_TRUE(unavailable->endsWith("(Shutdown) (unavailable, runtime profile not found)"));

    const QJsonObject json = QJsonDocument::fromJson(tree.simctl({"list", "-j"}).out).object();
    const QJsonObject devices = json.value("devices").toObject();
    EXPECT_EQ(devices.value("com.apple.CoreSimulator.SimRuntime.iOS-17-5").toArray().size(), 1);
    EXPECT_EQ(json.value("pairs").toObject().size(), 1);
    EXPECT_EQ(json.value("runtimes").toArray().size(), 2);
}
