// The store announces a field only when a write really changed it, names every field a
// batch touched, and keeps fields apart (a change of one is never read as another).

#include <gtest/gtest.h>

#include <vector>

#include "model/ModelStore.h"

namespace keldwick {
namespace {

struct Heard {
    std::vector<ModelFields> announcements;
    explicit Heard(ModelStore& store) {
        QObject::connect(&store, &ModelStore::changed, [this](ModelFields fields) { announcements.push_back(fields); });
    }
};

TEST(ModelStoreTest, AnnouncesOnlyRealChangesAndNamesTheirFields) {
    ModelStore store;
    Heard heard(store);

    EXPECT_TRUE(store.set<ModelField::computerFreeBytes>(int64_t{5}));
    EXPECT_FALSE(store.set<ModelField::computerFreeBytes>(int64_t{5}));  // the same value: no one hears
    EXPECT_TRUE(store.set<ModelField::driveRoot>(std::optional<std::string>("/media/u/Archive")));
    EXPECT_FALSE(store.set<ModelField::activity>(Activity::idle));
    ASSERT_EQ(heard.announcements.size(), 2u);
    EXPECT_EQ(heard.announcements[0], ModelFields(ModelField::computerFreeBytes));
    EXPECT_EQ(heard.announcements[1], ModelFields(ModelField::driveRoot));
    EXPECT_EQ(store.state().computerFreeBytes, 5);
    EXPECT_EQ(store.state().driveRoot, "/media/u/Archive");

    // An edit always announces what it names, even when it changed nothing.
    store.edit(ModelField::windowRequests | ModelField::settingsTab, [](ModelState&) {});
    ASSERT_EQ(heard.announcements.size(), 3u);
    EXPECT_TRUE(heard.announcements[2].has(ModelField::windowRequests));
    EXPECT_TRUE(heard.announcements[2].has(ModelField::settingsTab));
    EXPECT_FALSE(heard.announcements[2].has(ModelField::filesTab));

    // Nothing named is nothing heard.
    store.edit({}, [](ModelState& state) { state.home = "/home/u"; });
    store.announce({});
    EXPECT_EQ(heard.announcements.size(), 3u);
    EXPECT_EQ(store.state().home, "/home/u");
}

TEST(ModelStoreTest, EveryFieldIsItsOwn) {
    // The first and the last fields of the state and the events beside it, which share
    // the set's outer bits.
    const std::vector<ModelField> fields = {ModelField::settings,   ModelField::records,
                                            ModelField::lastFailureNotice, ModelField::engine,
                                            ModelField::job, ModelField::mounts};
    for (size_t i = 0; i < fields.size(); ++i) {
        ModelFields one(fields[i]);
        EXPECT_FALSE(one.empty());
        for (size_t j = 0; j < fields.size(); ++j) EXPECT_EQ(one.has(fields[j]), i == j) << i << " " << j;
    }
    ModelFields some = ModelField::settings | ModelField::mounts;
    some |= ModelField::records;
    EXPECT_TRUE(some.has(ModelField::settings) && some.has(ModelField::mounts) && some.has(ModelField::records));
    EXPECT_FALSE(some.has(ModelField::engine));
}

}  // namespace
}  // namespace keldwick
