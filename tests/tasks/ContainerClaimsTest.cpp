#include "TaskTestSupport.h"
#include "core/File.h"
#include "tasks/ContainerClaims.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

TEST(ContainerClaims, AFolderIsHeldByOneTaskAtATimeAndClaimedAllOrNothing)
{
    using Reason = ContainerClaims::Refusal::Reason;
    QTemporaryDir dir;
    const std::filesystem::path root = nativePath(dir.path());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("a/inner")) && QDir().mkpath(dir.filePath("b")) &&
                QDir().mkpath(dir.filePath("c")) && QDir().mkpath(dir.filePath("d")));
    ASSERT_TRUE(makeLink(dir.filePath("a"), dir.filePath("link")));
    const QString locks = dir.filePath("locks");
    ContainerClaims claims(locks), program(locks);
    auto held = claims.claim({root / "a"}, "held");
    claims.retain(std::get<ContainerClaims::Claim>(claims.claim({root / "c"}, "kept")));
    // Another program's, as far as the locks can tell.
    auto elsewhere =
        std::make_unique<std::variant<ContainerClaims::Claim, ContainerClaims::Refusal>>(
            program.claim({root / "b"}, "elsewhere"));
    ASSERT_TRUE(std::holds_alternative<ContainerClaims::Claim>(*elsewhere));
    // A lock file that is a link is not taken.
    const QByteArray name =
        QCryptographicHash::hash(QByteArray::fromStdString((root / "d").native()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(40);
    ASSERT_TRUE(makeLink(dir.filePath("victim"), locks + "/" + name + ".lock"));

    const struct {
        const char *name;
        std::vector<std::filesystem::path> folders;
        std::optional<Reason> refused;
        QString activity;
    } cases[] = {
        {"the same folder by a link", {root / "link"}, Reason::running, "held"},
        {"a folder inside it", {root / "link/inner"}, Reason::running, "held"},
        {"a folder holding it", {root}, Reason::running, "held"},
        {"one free folder and one held", {root / "d", root / "a"}, Reason::running, "held"},
        {"a folder kept for the next start", {root / "c"}, Reason::waiting, "kept"},
        {"a folder another program holds", {root / "b"}, Reason::elsewhere, {}},
        {"a folder whose lock file is a link", {root / "d"}, Reason::unlockable, {}},
        {"a folder beside it", {root / "a/../e"}, std::nullopt, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = claims.claim(c.folders, c.name);
        ASSERT_EQ(std::holds_alternative<ContainerClaims::Refusal>(result), c.refused.has_value());
        if (!c.refused)
            continue;
        EXPECT_EQ(std::get<ContainerClaims::Refusal>(result).reason, *c.refused);
        EXPECT_EQ(std::get<ContainerClaims::Refusal>(result).activity, c.activity);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("victim")));
    // A refused claim holds nothing, in this program or for others; a
    // granted one went with its result.
    EXPECT_TRUE(std::holds_alternative<ContainerClaims::Claim>(program.claim({root / "e"}, "e")));

    // Released when the claim goes, after a move too, and safely after the registry.
    (void)ContainerClaims::Claim(std::move(std::get<ContainerClaims::Claim>(held)));
    EXPECT_TRUE(std::holds_alternative<ContainerClaims::Claim>(program.claim({root / "a"}, "a")));
    elsewhere.reset();
    EXPECT_TRUE(std::holds_alternative<ContainerClaims::Claim>(claims.claim({root / "b"}, "b")));
    auto registry = std::make_unique<ContainerClaims>(locks);
    auto outliving = registry->claim({root / "f"}, "outliving");
    registry.reset();
}
