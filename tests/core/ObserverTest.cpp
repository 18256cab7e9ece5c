#include "core/Observable.h"
#include "core/Observer.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {

struct Thing : Object {};
struct OtherThing : Object {};

class CountingToken : public ObserverProtocol {
public:
    explicit CountingToken(int *count) : m_count(count) {}
    void invalidate() override { ++*m_count; }
    QString debugDescription() const override { return "<CountingToken>"; }
    bool operator==(const CountingToken &other) const { return this == &other; }

private:
    int *m_count;
};

} // namespace

TEST(ObserverCollection, RemoveOfAMixedCollectionChangesNothing)
{
    int invalidations = 0;
    int notified = 0;
    ObserverCollection collection;
    auto token = collection.append(observeNotification(
        "t.mixed", nullptr, [&](const Notification &, const ObjectPtr &) { ++notified; }));
    collection.append(std::make_shared<CountingToken>(&invalidations));
    EXPECT_EQ(collection.remove(token), nullptr);
    EXPECT_EQ(collection.observers().size(), 2u);
    collection.removeAll();
    EXPECT_EQ(invalidations, 1);
    EXPECT_TRUE(collection.observers().empty());
    postNotification("t.mixed");
    EXPECT_EQ(notified, 0);
}

TEST(ObserverCollection, RemoveReturnsTheTokenStillRegistered)
{
    int notified = 0;
    ObserverCollection collection;
    auto token = collection.append(observeNotification(
        "t.remove", nullptr, [&](const Notification &, const ObjectPtr &) { ++notified; }));
    auto removed = collection.remove(token);
    ASSERT_EQ(removed, token);
    EXPECT_TRUE(collection.observers().empty());
    postNotification("t.remove");
    EXPECT_EQ(notified, 1);
    removed->invalidate();
}

TEST(ObserverCollection, DestroyedCollectionInvalidatesAndDescribes)
{
    int notified = 0;
    {
        ObserverCollection collection;
        EXPECT_EQ(collection.debugDescription(), "<Observer.Collection (0 observer(s)): []>");
        collection.append(observeNotification(
            "t.destroy", nullptr, [&](const Notification &, const ObjectPtr &) { ++notified; }));
        EXPECT_EQ(collection.debugDescription(),
                  "<Observer.Collection (1 observer(s)): [<Observer: t.destroy>]>");
    }
    postNotification("t.destroy");
    EXPECT_EQ(notified, 0);
}

TEST(NotificationObserver, DoubleInvalidateUnregistersOnceThenEqualsNothing)
{
    auto token =
        observeNotification("t.double", nullptr, [](const Notification &, const ObjectPtr &) {});
    EXPECT_TRUE(*token == *token);
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount("t.double"), 1);
    token->invalidate();
    token->invalidate();
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount("t.double"), 0);
    EXPECT_FALSE(*token == *token);
}

TEST(NotificationObserver, ReleasingTheLastReferenceEndsTheRegistration)
{
    int notified = 0;
    auto token = observeNotification("t.release", nullptr,
                                     [&](const Notification &, const ObjectPtr &) { ++notified; });
    auto kept = token;
    token.reset();
    postNotification("t.release");
    EXPECT_EQ(notified, 1);
    kept.reset();
    postNotification("t.release");
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount("t.release"), 0);
}

TEST(NotificationObserver, TypedHelperIgnoresOtherTypesAndNoObject)
{
    auto thing = std::make_shared<Thing>();
    int calls = 0;
    auto token =
        observeNotification<Thing>("t.typed", nullptr, nullptr,
                                   [&](const Notification &, const std::shared_ptr<Thing> &object) {
                                       EXPECT_EQ(object, thing);
                                       ++calls;
                                   });
    postNotification("t.typed", std::make_shared<OtherThing>());
    postNotification("t.typed");
    postNotification("t.typed", thing);
    EXPECT_EQ(calls, 1);
    token->invalidate();
}

TEST(Observable, NotifiesEverySetUntilTheTokenEnds)
{
    Observable<QString> title("a");
    QStringList seen;
    auto token = title.observe(
        [&](const QString &old, const QString &now) { seen << old + ">" + now; }, true);
    title.set("b");
    title.set("b");
    EXPECT_EQ(seen, (QStringList{"a>a", "a>b", "b>b"}));
    token.reset();
    title.set("c");
    EXPECT_EQ(seen.size(), 3);
    EXPECT_EQ(title.observerCount(), 0);
}
