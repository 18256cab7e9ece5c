#include "FixtureTestSupport.h"

#include "core/CorvaneError.h"
#include "core/Toolset.h"

#include <QUrl>
#include <gtest/gtest.h>

#include <chrono>

using namespace corvane;
using namespace corvane::fixture;
using namespace std::chrono_literals;

TEST(ToolsetWithFakeXcode, DetectsTheFakesSubcommandSubset)
{
    FixtureTree tree;
    XcodeSpec spec;
    spec.subcommands = {"list", "boot", "io", "-gps-"};
    const QString bundle = tree.addXcode(spec);
    auto toolset = Toolset::make(QUrl::fromLocalFile(bundle));
    ASSERT_TRUE(toolset);
    EXPECT_EQ(toolset->version(), "15.4");
    using C = Toolset::Command;
    for (auto command : Toolset::allCommands()) {
        const bool offered = command == C::deviceListing || command == C::boot ||
                             command == C::screenshots || command == C::recording ||
                             command == C::touch || command == C::gps || command == C::gpsFull;
        EXPECT_EQ(toolset->supports(command), offered)
            << Toolset::subcommand(command).toStdString();
    }

    auto full = Toolset::make(QUrl::fromLocalFile(tree.addXcode({.name = "Xcode-full.app"})));
    ASSERT_TRUE(full);
    for (auto command : Toolset::allCommands())
        if (command != C::gpsFull)
            EXPECT_TRUE(full->supports(command)) << Toolset::subcommand(command).toStdString();
}

TEST(ToolsetWithFakeXcode, HangReturnsAtTheDeadlineAndInjectedStderrFails)
{
    FixtureTree tree;
    auto toolset = Toolset::make(QUrl::fromLocalFile(tree.addXcode({})));
    ASSERT_TRUE(toolset);
    ASSERT_FALSE(toolset->supportedCommands().empty());

    Fault hang;
    hang.hang = true;
    tree.setFault("list", hang);
    const auto previous = toolProcessTimeout();
    setToolProcessTimeout(500ms);
    const auto start = std::chrono::steady_clock::now();
    try {
        toolset->run({"list"});
    } catch (const CorvaneError &) {
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    setToolProcessTimeout(previous);
    EXPECT_GE(elapsed, 450ms);
    EXPECT_LT(elapsed, 20s);

    tree.clearFaults();
    Fault noisy;
    noisy.stderrText = "Something went wrong";
    tree.setFault("list", noisy);
    try {
        toolset->run({"list"});
        ADD_FAILURE() << "stderr output must fail the call";
    } catch (const CorvaneError &error) {
        EXPECT_EQ(error.code(), 1001);
        EXPECT_TRUE(error.description().contains("Something went wrong"));
    }
}
