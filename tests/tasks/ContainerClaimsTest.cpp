#include "TaskTestSupport.h"
#include "core/File.h"
#include "tasks/ContainerClaims.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

TEST(ContainerClaims, AFolderIsHeldByOneTaskAtATimeAndClaimedAllOrNothing)
{
    QTemporaryDir dir;
    const std::filesystem::path root = nativePath(dir.path());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("a/inner")) && QDir().mkpath(dir.filePath("b")));
    ASSERT_TRUE(makeLink(dir.filePath("a"), dir.filePath("link")));
    ContainerClaims claims;
    auto held = claims.claim({root / "a"}, "held");

    const struct {
        const char *name;
        std::vector<std::filesystem::path> folders;
        bool free;
    } cases[] = {
        {"the same folder by a link", {root / "link"}, false},
        {"a folder inside it", {root / "link/inner"}, false},
        {"a folder holding it", {root}, false},
        {"one free folder and one held", {root / "b", root / "a"}, false},
        {"a folder beside it", {root / "b"}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = claims.claim(c.folders, c.name);
        EXPECT_EQ(std::holds_alternative<ContainerClaims::Claim>(result), c.free);
        if (!c.free)
            EXPECT_EQ(std::get<QString>(result), "held");
    }
    // A refused claim holds nothing; a granted one went with its result.
    EXPECT_TRUE(std::holds_alternative<ContainerClaims::Claim>(claims.claim({root / "b"}, "b")));

    // Released when the claim goes, after a move too, and safely after the registry.
    (void)ContainerClaims::Claim(std::move(std::get<ContainerClaims::Claim>(held)));
    EXPECT_TRUE(std::holds_alternative<ContainerClaims::Claim>(claims.claim({root / "a"}, "a")));
    auto registry = std::make_unique<ContainerClaims>();
    auto outliving = registry->claim({root / "a"}, "outliving");
    registry.reset();
}
