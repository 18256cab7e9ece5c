#include "fixtures/http/UnsplashReplies.h"
#include "tasks/UnsplashSearchResults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <functional>

using namespace corvane;
using namespace corvane::fixture;

namespace {

const QUrl base("https://api.example.com/");

// The reply of two photos, changed by `edit` (at the first photo).
QByteArray editedReply(const std::function<void(QJsonObject &photo)> &edit)
{
    QJsonObject reply = QJsonDocument::fromJson(unsplashSearchReply(base, 2)).object();
    QJsonArray results = reply["results"].toArray();
    QJsonObject photo = results[0].toObject();
    edit(photo);
    results[0] = photo;
    reply["results"] = results;
    return QJsonDocument(reply).toJson();
}

// Sets one member below the photo, given as a path of keys.
std::function<void(QJsonObject &)> setting(const QStringList &path, const QJsonValue &value)
{
    return [=](QJsonObject &photo) {
        std::function<void(QJsonObject &, int)> set = [&](QJsonObject &object, int depth) {
            if (depth == path.size() - 1) {
                if (value.isUndefined())
                    object.remove(path.last());
                else
                    object[path.last()] = value;
                return;
            }
            QJsonObject inner = object[path[depth]].toObject();
            set(inner, depth + 1);
            object[path[depth]] = inner;
        };
        set(photo, 0);
    };
}

} // namespace

TEST(UnsplashSearchResultsTest, AFullReplyDecodesAndIgnoresMembersItDoesNotRead)
{
    // The served reply carries members the records lack at every level.
    QString error;
    const auto results = UnsplashSearchResults::decode(unsplashSearchReply(base, 2), &error);
    ASSERT_TRUE(results) << error.toStdString();
    EXPECT_EQ(results->total, 1002);
    ASSERT_EQ(results->results.size(), 2u);
    const UnsplashSearchResultsImage &photo = results->results[1];
    EXPECT_EQ(photo.id, "p1");
    EXPECT_EQ(photo.width, 4001);
    EXPECT_EQ(photo.height, 3000);
    EXPECT_EQ(photo.color, unsplashPhotoEntry(base, 1)["color"].toString());
    EXPECT_EQ(photo.user.name, "Maker 1");
    EXPECT_EQ(photo.user.username, "maker1");
    EXPECT_EQ(photo.user.links.html, QUrl("https://api.example.com/@maker1"));
    EXPECT_EQ(photo.urls.regular, QUrl("https://api.example.com/photos/p1/regular.jpg"));
    EXPECT_EQ(photo.urls.small, QUrl("https://api.example.com/photos/p1/regular.jpg?w=400"));
    EXPECT_EQ(photo.links.download_location, QUrl("https://api.example.com/photos/p1/download"));

    const auto empty = UnsplashSearchResults::decode(R"({"total": 0, "results": [], "x": 1})");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->results.empty());
}

TEST(UnsplashSearchResultsTest, OneBadMemberFailsTheWholeReply)
{
    const QJsonValue missing(QJsonValue::Undefined);
    const struct {
        const char *name;
        QByteArray json;
        const char *reason;
    } cases[] = {
        {"no colour", editedReply(setting({"color"}, missing)), "results[0].color: missing"},
        {"width as text", editedReply(setting({"width"}, "100")), "results[0].width"},
        {"fractional width", editedReply(setting({"width"}, 100.5)), "results[0].width"},
        {"width beyond 64 bits", editedReply(setting({"width"}, 1e19)), "results[0].width"},
        {"relative URL", editedReply(setting({"urls", "small"}, "/p0.jpg")), "urls.small"},
        {"URL as number", editedReply(setting({"urls", "thumb"}, 5)), "urls.thumb"},
        {"no photographer page", editedReply(setting({"user", "links", "html"}, missing)),
         "results[0].user.links.html: missing"},
        {"links not an object", editedReply(setting({"links"}, QJsonArray())), "results[0].links"},
        {"no total", R"({"results": []})", "total: missing"},
        {"results not a list", R"({"total": 1, "results": {}})", "results"},
        {"a list at the top", "[]", "reply"},
        {"not JSON", "<html>Rate Limit</html>", ""},
    };
    for (const auto &c : cases) {
        QString error;
        EXPECT_EQ(UnsplashSearchResults::decode(c.json, &error), std::nullopt) << c.name;
        EXPECT_TRUE(error.contains(c.reason)) << c.name << ": " << error.toStdString();
    }
}

TEST(UnsplashSearchResultsTest, IntegersAreReadWholeUpTo64Bits)
{
    for (const std::int64_t total :
         {std::numeric_limits<std::int64_t>::max(), (std::int64_t(1) << 53) + 1,
          std::numeric_limits<std::int64_t>::min()}) {
        const auto results = UnsplashSearchResults::decode(R"({"results": [], "total": )" +
                                                           QByteArray::number(total) + "}");
        ASSERT_TRUE(results) << total;
        EXPECT_EQ(results->total, total);
    }
    EXPECT_EQ(UnsplashSearchResults::decode(R"({"results": [], "total": 9223372036854775808})"),
              std::nullopt);
}
