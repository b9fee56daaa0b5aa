// How long the moved list takes to follow a refresh of 10,000 records
// (KELDWICK_FILES_RECORDS sets another count): the records are listed and filtered, the
// table takes the rows, the selection kept by id is applied again, the bars are recomputed,
// and the view draws itself. Runs under Qt's offscreen platform, one discarded run, then the
// median and worst of 21. The window stays responsive while this is below 50 ms.

#include <QApplication>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/FilesHost.h"
#include "files/MovedFilesView.h"

using namespace keldwick;

namespace {

constexpr int kRuns = 21;

class StillHost final : public FilesHost {
public:
    ModelState model;
    const ModelState& state() const override { return model; }
    DriveStatus driveStatus(const OffloadRecord&) const override { return {"Archive", true}; }
    Date now() const override { return Date{1'800'000'000}; }
    bool exists(const std::string&) const override { return true; }
    void refresh() override {}
    void clearFilesProblem() override {}
    void setFilesTab(FilesTab) override {}
    void restoreRecords(const std::vector<int64_t>&) override {}
    void restoreCopy(int64_t) override {}
    void keepOnMac(const std::vector<OffloadRecord>&) override {}
    void restoreAll() override {}
    void deleteDriveCopy(const OffloadRecord&) override {}
    void moveToDrive(const std::vector<std::string>&) override {}
    void chooseFilesToMove() override {}
    void openPreview() override {}
    void cancel() override {}
    void open(const std::string&) override {}
    void showItems(const std::vector<std::string>&) override {}
    std::vector<DriveItem> listFolder(const std::string&) const override { return {}; }
    std::string appFolder(const std::string& root) const override { return root + "/Keldwick"; }
};

std::vector<OffloadRecord> records(int count, int changed) {
    std::vector<OffloadRecord> out;
    for (int i = 0; i < count; ++i) {
        OffloadRecord r;
        r.id = i + 1;
        r.originalPath = "/home/u/" + std::string(i % 2 ? "Downloads" : "Documents") + "/item " + std::to_string(i) +
                         (i % 3 ? ".pdf" : ".mov");
        r.driveID = "D";
        r.driveRelativePath = "Keldwick/item " + std::to_string(i);
        r.size = 1'000'000 + i * 7919;
        r.isDirectory = i % 10 == 0;
        r.phase = i % 50 == 0 ? Phase::linkMissing : Phase::offloaded;
        if (i == changed) r.phase = Phase::restoreCopying;
        r.createdAt = r.updatedAt = Date{1'700'000'000.0 + i};
        out.push_back(r);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char* wanted = std::getenv("KELDWICK_FILES_RECORDS");
    const int count = wanted ? std::max(1, std::atoi(wanted)) : 10000;

    StillHost host;
    host.model.home = "/home/u";
    host.model.driveRoot = "/media/u/Archive";
    host.model.records = records(count, -1);
    MovedFilesView view(host);
    view.resize(900, 480);
    view.show();
    view.setSelection({3, 5, 7, 11});
    QApplication::processEvents();

    // Each run is a refresh in which one record changed phase: every row is replaced.
    std::vector<double> ms;
    for (int run = 0; run <= kRuns; ++run) {
        host.model.records = records(count, run);
        const auto start = std::chrono::steady_clock::now();
        view.update();
        view.repaint();
        const auto end = std::chrono::steady_clock::now();
        if (run > 0) ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("moved list refresh: %d records, %d rows\n", count, view.model()->rowCount());
    std::printf("  median %.2f ms, worst %.2f ms (limit 50 ms: %s)\n", median, ms.back(),
                median < 50 ? "within" : "OVER");
    return 0;
}
