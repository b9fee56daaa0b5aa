#include <QItemSelectionModel>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "model/PreviewModel.h"
#include "preview/PreviewRows.h"
#include "preview/PreviewSelection.h"
#include "preview/PreviewTable.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;
constexpr double day = 86400;
const Date now{1'800'000'000};

Candidate item(const std::string& path, int64_t size, double score, std::vector<Candidate> parts = {},
               double daysAgo = 40) {
    return Candidate(path, !parts.empty(), size, 1, Date{now.secondsSince1970 - daysAgo * day},
                     LastUsedSource::modificationDate, score, false, std::nullopt, std::nullopt, std::move(parts));
}

// A 90 GB folder of three 30 GB parts, then files of 9, 3 and 2 GB, best first.
ScanReport report() {
    ScanReport r;
    r.candidates = {item("/home/u/Big", 90 * GB, 90,
                         {item("/home/u/Big/a", 30 * GB, 30), item("/home/u/Big/b", 30 * GB, 20),
                          item("/home/u/Big/c", 30 * GB, 10)}),
                    item("/home/u/Downloads/nine.iso", 9 * GB, 8, {}, 1),
                    item("/home/u/Downloads/three.zip", 3 * GB, 5), item("/home/u/two.dmg", 2 * GB, 4)};
    return r;
}

// Two files of 5 GB, x ranked above y.
ScanReport pair() {
    ScanReport r;
    r.candidates = {item("/home/u/x", 5 * GB, 10), item("/home/u/y", 5 * GB, 5)};
    return r;
}

// The table over a real preview, as the window wires it: a tick re-plans, the rows follow.
struct Fixture {
    PreviewModel preview;
    PreviewTable table;
    int toggles = 0;

    Fixture(int64_t goal, int64_t room, ScanReport found = report())
        : preview(PreviewKind::manual, goal, false),
          table("/home/u", [] { return now; },
                [this](const std::string& path) {
                    ++toggles;
                    preview.toggle(path);
                }) {
        preview.apply(std::move(found), room);
        refresh();
    }
    // As the window does: the rows keep the order they were shown in.
    void refresh() { table.setRows(keepingOrder(previewRows(preview), table.rows())); }
    std::vector<std::pair<std::string, bool>> shown() const {
        std::vector<std::pair<std::string, bool>> rows;
        for (int r = 0; r < table.rowCount(); ++r) {
            rows.emplace_back(table.data(table.index(r, 0), PreviewTable::pathRole).toString().toStdString(),
                              table.data(table.index(r, 0), Qt::CheckStateRole).value<Qt::CheckState>() ==
                                  Qt::Checked);
        }
        return rows;
    }
    bool tick(const std::string& path, bool on) {
        const bool changed = table.setData(table.index(*table.rowOf(path), PreviewTable::toggleColumn),
                                           on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        refresh();
        return changed;
    }
};

using Rows = std::vector<std::pair<std::string, bool>>;

TEST(PreviewTableTest, TicksExcludeAndReincludePartsOfABigFolder) {
    // 15 GB to free with ample room: the folder is too big to go whole, so one part goes.
    Fixture f(15 * GB, 1000 * GB);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/Big/a", true}}));

    // Unticking the part: it stays where it was, unticked, and the next part comes in
    // below it; it is never planned again behind the user's back.
    EXPECT_TRUE(f.tick("/home/u/Big/a", false));
    EXPECT_EQ(f.toggles, 1);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/Big/a", false}, {"/home/u/Big/b", true}}));
    // A tick that changes nothing calls nothing.
    EXPECT_FALSE(f.tick("/home/u/Big/a", false));
    EXPECT_EQ(f.toggles, 1);

    f.tick("/home/u/Big/b", false);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/Big/a", false}, {"/home/u/Big/b", false}, {"/home/u/Big/c", true}}));
    // Ticking a part again restores its plan; c, neither planned nor excluded, goes.
    f.tick("/home/u/Big/a", true);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/Big/a", true}, {"/home/u/Big/b", false}}));
}

TEST(PreviewTableTest, ARowThePlannerDoesNotTakeBackLeavesTheTable) {
    Fixture f(5 * GB, 1000 * GB, pair());
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/x", true}}));
    f.tick("/home/u/x", false);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/x", false}, {"/home/u/y", true}}));
    // Nothing planned: the excluded rows stay.
    f.tick("/home/u/y", false);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/x", false}, {"/home/u/y", false}}));
    f.tick("/home/u/x", true);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/x", true}, {"/home/u/y", false}}));
    // The goal is met without y: back in, it is neither planned nor excluded.
    f.tick("/home/u/y", true);
    EXPECT_EQ(f.shown(), (Rows{{"/home/u/x", true}}));
}

TEST(PreviewTableTest, CellsShowTheSizeOnThisComputerAndPlainNames) {
    PreviewRow row{Candidate("/home/u/Documents/Work/<b>report<i>.pdf", false, 1'500'000, 1, Date{now.secondsSince1970 - day},
                             LastUsedSource::modificationDate, 0, false, std::nullopt, 9'000'000),
                   true};
    EXPECT_EQ(previewRowTexts(row, "/home/u", now, "en_US"),
              (PreviewRowTexts{"Move <b>report<i>.pdf", "<b>report<i>.pdf", "Documents \u203a Work", "1.50 MB",
                               "yesterday"}));

    PreviewTable table("/home/u", [] { return now; }, {});
    row.included = false;
    table.setRows({row});
    const QModelIndex name = table.index(0, PreviewTable::nameColumn);
    EXPECT_EQ(table.data(name).toString(), QStringLiteral("<b>report<i>.pdf"));
    EXPECT_TRUE(table.data(name, Qt::ForegroundRole).isValid());  // dimmed: excluded
    EXPECT_FALSE(table.data(name, Qt::DecorationRole).value<QIcon>().isNull());
    // The tooltip is markup, so the name in it is escaped.
    EXPECT_TRUE(table.data(name, Qt::ToolTipRole).toString().contains(QStringLiteral("&lt;b&gt;")));
    EXPECT_EQ(table.data(table.index(0, 0), Qt::AccessibleTextRole).toString(),
              QStringLiteral("Move <b>report<i>.pdf"));
    EXPECT_TRUE(table.flags(table.index(0, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(table.flags(name) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(table.headerData(PreviewTable::lastUsedColumn, Qt::Horizontal).toString(), QStringLiteral("Last used"));
}

TEST(PreviewTableTest, SelectionIsKeptByPathAcrossReplans) {
    Fixture f(5 * GB, 1000 * GB, pair());
    QItemSelectionModel model(&f.table);
    PreviewSelection selection(&f.table, &model);
    model.select(f.table.selectionOf({"/home/u/x"}), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(selection.paths(), (std::set<std::string>{"/home/u/x"}));

    // Excluding x leaves it in its row, still selected and current; y, come in below, is
    // not selected.
    model.setCurrentIndex(f.table.index(0, PreviewTable::toggleColumn), QItemSelectionModel::NoUpdate);
    f.tick("/home/u/x", false);
    EXPECT_EQ(f.table.pathsOf(model.selectedRows()), (std::vector<std::string>{"/home/u/x"}));
    EXPECT_EQ(*f.table.rowOf("/home/u/x"), 0);
    EXPECT_EQ(model.currentIndex(), f.table.index(0, PreviewTable::toggleColumn));
    model.select(f.table.selectionOf({"/home/u/y"}), QItemSelectionModel::Select);
    EXPECT_EQ(selection.paths(), (std::set<std::string>{"/home/u/x", "/home/u/y"}));

    // y leaves the table when x comes back (the goal is met without it): it is
    // forgotten, and x stays selected.
    f.tick("/home/u/x", true);
    EXPECT_EQ(selection.paths(), (std::set<std::string>{"/home/u/x"}));
    EXPECT_EQ(f.table.pathsOf(model.selectedRows()), (std::vector<std::string>{"/home/u/x"}));
    model.clearSelection();
    EXPECT_TRUE(selection.paths().empty());
}

TEST(PreviewTableTest, ANewPlanKeepsTheRowsWhereTheyWereShown) {
    auto rows = [](std::vector<std::pair<const char*, bool>> list) {
        std::vector<PreviewRow> made;
        for (const auto& [name, included] : list) made.push_back({item(std::string("/home/u/") + name, GB, 1), included});
        return made;
    };
    auto paths = [](const std::vector<PreviewRow>& list) {
        std::vector<std::pair<std::string, bool>> named;
        for (const auto& row : list) named.emplace_back(row.candidate.path.substr(8), row.included);
        return named;
    };
    struct Case {
        const char* name;
        std::vector<PreviewRow> fresh, shown;
        Rows expected;
    };
    const std::vector<Case> cases = {
        {"first plan", rows({{"a", true}, {"b", true}}), {}, {{"a", true}, {"b", true}}},
        {"unticked in the middle", rows({{"a", true}, {"c", true}, {"d", true}, {"b", false}}),
         rows({{"a", true}, {"b", true}, {"c", true}}), {{"a", true}, {"b", false}, {"c", true}, {"d", true}}},
        {"ticked again, the newcomer gone", rows({{"a", true}, {"b", true}, {"c", true}}),
         rows({{"a", true}, {"b", false}, {"c", true}, {"d", true}}), {{"a", true}, {"b", true}, {"c", true}}},
        {"nothing left", {}, rows({{"a", true}}), {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(paths(keepingOrder(c.fresh, c.shown)), c.expected) << c.name;
    }
}

TEST(PreviewTableTest, SkippedSummary) {
    struct Case {
        int64_t count;
        size_t listed;
        std::optional<std::string> expected;
    };
    const Case cases[] = {{0, 0, std::nullopt},
                          {1, 1, "1 item was left alone"},
                          {3, 3, "3 items were left alone"},
                          {250, 100, "250 items were left alone (the first 100 are listed)"}};
    for (const Case& c : cases) {
        ScanReport r;
        r.skippedCount = c.count;
        r.skipped.assign(c.listed, SkippedItem{"/home/u/x", "Kept on this computer"});
        EXPECT_EQ(skippedSummary(r), c.expected) << c.count;
    }
    EXPECT_EQ(skippedTexts({"/home/u/Desktop/Taxes", "Kept on this computer"}, "/home/u"),
              (SkippedTexts{"Taxes", "Desktop", "Kept on this computer"}));
}

}  // namespace
}  // namespace keldwick
