// The disk page over real disks: rows built from loop devices through the
// disk model, and edits staged by pressing the page's controls, applied by
// the real daemon in a private mount namespace, then checked with sfdisk,
// e2fsck and the data written before.

#include "app/disk_editor.hpp"
#include "app/installer_app.hpp"
#include "client/client.hpp"
#include "i18n/translate.hpp"
#include "platform/system_paths.hpp"
#include "support/command.hpp"
#include "support/daemon_process.hpp"
#include "support/loop_disk.hpp"
#include "support/temp_dir.hpp"
#include "support/view_probe.hpp"
#include "support/wait.hpp"
#include "support/wizard_effects.hpp"

#include <zem/theme/theme.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <random>

namespace {

using app::Msg;
using support::LoopDisk;
using support::run_command;

constexpr std::uint64_t M = 1ull << 20;

std::vector<disks::Disk> only(const std::vector<std::string>& paths) {
    std::vector<disks::Disk> out;
    for (auto& d : disks::enumerate())
        if (std::find(paths.begin(), paths.end(), d.path) != paths.end()) out.push_back(std::move(d));
    return out;
}

const app::DiskRow* row_at(const std::vector<app::DiskRow>& rows, const std::string& path) {
    for (const auto& r : rows)
        if (r.path == path) return &r;
    return nullptr;
}

// The partitions sfdisk reads back: (start, size) in sectors.
std::vector<std::pair<std::uint64_t, std::uint64_t>> table(const std::string& disk) {
    auto out = support::capture_output({"sfdisk", "--json", disk});
    EXPECT_TRUE(out) << out.error();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> parts;
    if (!out) return parts;
    const nlohmann::json doc = nlohmann::json::parse(*out);
    for (const auto& p : doc["partitiontable"]["partitions"])
        parts.emplace_back(p["start"].get<std::uint64_t>(), p["size"].get<std::uint64_t>());
    return parts;
}

class DiskRowsLive : public ::testing::Test {
protected:
    void TearDown() override { i18n::set_locale("en"); }
};

TEST_F(DiskRowsLive, RowsOfRealDisksInTwoLanguages) {
    REQUIRE_LOOP();
    // GPT whose first partition starts at 16 MiB, with gaps before, between
    // and after; MBR with an extended container of two logicals; no table.
    auto gpt = LoopDisk::partitioned(256 * M, "label: gpt\nfirst-lba: 34\nstart=16MiB, size=64MiB\n"
                                              "start=100MiB, size=32MiB\n");
    ASSERT_TRUE(gpt) << gpt.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", gpt->part(1)}).exit_code, 0);
    auto mbr = LoopDisk::partitioned(256 * M, "label: dos\nstart=1MiB, size=32MiB\nstart=40MiB, size=100MiB, type=5\n"
                                              "start=41MiB, size=20MiB\nstart=62MiB, size=20MiB\n");
    ASSERT_TRUE(mbr) << mbr.error();
    auto empty = LoopDisk::create(64 * M);
    ASSERT_TRUE(empty) << empty.error();

    for (const char* locale : {"en", "de"}) {
        i18n::set_locale(locale);
        const auto rows = app::disk_rows(only({gpt->path(), mbr->path(), empty->path()}));
        ASSERT_EQ(rows.size(), 3u) << locale;
        const std::string free = i18n::translate("disk.free_space");
        auto part = [](int n) { return i18n::translate_with("disk.partition", {{"num", std::to_string(n)}}); };

        const app::DiskRow* g = row_at(rows, gpt->path());
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->table, std::optional<std::string>("gpt"));
        EXPECT_EQ(g->size, 256 * M);
        // Free space lies between the usable sectors: never over the
        // protective MBR, the primary table or the backup table.
        const std::uint64_t first_usable = 34 * 512, usable_end = 256 * M - 33 * 512;
        struct Want {
            std::string label;
            std::uint64_t start, size, max;
            bool free;
        };
        const std::vector<Want> want = {
            {free, first_usable, 16 * M - first_usable, 0, true},
            {part(1) + " (ext4)", 16 * M, 64 * M, 84 * M, false},
            {free, 80 * M, 20 * M, 0, true},
            {part(2), 100 * M, 32 * M, usable_end - 100 * M, false},
            {free, 132 * M, usable_end - 132 * M, 0, true},
        };
        ASSERT_EQ(g->partitions.size(), want.size()) << locale;
        for (std::size_t i = 0; i < want.size(); ++i) {
            const auto& p = g->partitions[i];
            EXPECT_EQ(p.label, want[i].label) << locale << " " << i;
            EXPECT_EQ(p.start, want[i].start) << i;
            EXPECT_EQ(p.size, want[i].size) << i;
            EXPECT_EQ(p.free, want[i].free) << i;
            if (!want[i].free) {
                EXPECT_EQ(p.max_size, want[i].max) << i;
            }
        }

        const app::DiskRow* m = row_at(rows, mbr->path());
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->table, std::optional<std::string>("msdos"));
        std::vector<std::string> labels;
        for (const auto& p : m->partitions) labels.push_back(p.label + (p.logical ? " L" : ""));
        EXPECT_EQ(labels, (std::vector<std::string>{part(1), free, part(5) + " L", part(6) + " L", free + " L", free}));
        // The primary stops where the container begins.
        EXPECT_EQ(m->partitions[0].max_size, 39 * M);
        EXPECT_EQ(m->partitions[2].max_size, 21 * M);

        const app::DiskRow* e = row_at(rows, empty->path());
        ASSERT_NE(e, nullptr);
        EXPECT_FALSE(e->table);
        for (const auto& p : e->partitions) EXPECT_TRUE(p.free) << p.label;
        EXPECT_EQ(e->label.rfind("Loop ", 0), 0u) << e->label;
    }
}

class DiskPageLive : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_LOOP();
        auto d = support::DaemonProcess::start(TAVIX_INSTALLER_EXE, [](const std::string& root) {
            std::ofstream(root + "/var/lib/tavix-installer/install-pending").put('\n');
        });
        if (!d) GTEST_SKIP() << d.error();
        daemon_ = std::move(*d);
        saved_ = platform::paths();
        platform::set_paths(daemon_->paths());
        auto theme = zem::theme::load_theme_file(TAVIX_SOURCE_DIR "/themes/default");
        ASSERT_TRUE(theme.has_value());
        zem::theme::set_active(std::move(*theme));
        i18n::set_locale("en");
    }
    void TearDown() override {
        if (daemon_) platform::set_paths(saved_);
        if (fx_) fx_->pending_jobs.clear();
    }

    app::InstallerApp wizard(const std::string& disk) {
        fx_ = std::make_shared<support::RecordingEffects>();
        fx_->disk_source = [disk] { return only({disk}); };
        fx_->forward_disk_ops = true;
        app::InstallerApp a(std::nullopt, false, false, fx_);
        a.set_page(app::Page::Disk);
        return a;
    }

    void press(app::InstallerApp& a, const std::string& label) {
        auto m = support::message_of(a.view(), label);
        ASSERT_TRUE(m) << "no live control \"" << label << "\"";
        a.update(std::move(*m));
    }

    std::unique_ptr<support::DaemonProcess> daemon_;
    platform::SystemPaths saved_;
    std::shared_ptr<support::RecordingEffects> fx_;
};

TEST_F(DiskPageLive, DeleteResizeAndCreateAppliedByTheDaemon) {
    auto disk = LoopDisk::partitioned(512 * M, "label: gpt\nstart=1MiB, size=128MiB\nstart=130MiB, size=64MiB\n");
    ASSERT_TRUE(disk) << disk.error();
    ASSERT_EQ(run_command({"mkfs.ext4", "-q", disk->part(1)}).exit_code, 0);
    support::TempDir tmp;
    const std::string data = tmp.path() + "/data.bin";
    {
        std::mt19937_64 rng(7);
        std::ofstream out(data, std::ios::binary);
        for (std::size_t i = 0; i < 20 * M / 8; ++i) {
            const std::uint64_t v = rng();
            out.write(reinterpret_cast<const char*>(&v), sizeof v);
        }
    }
    auto w = run_command({"debugfs", "-w", "-R", "write " + data + " data.bin", disk->part(1)});
    ASSERT_EQ(w.exit_code, 0) << w.err;
    const std::string digest = support::sha256(data);

    auto a = wizard(disk->path());
    ASSERT_EQ(a.disk_rows.size(), 1u);
    // Rows: ext4 (resize, delete), the bare partition (resize, delete), the gap (add).
    auto icons = support::icon_messages(a.view());
    ASSERT_EQ(icons.size(), 5u);
    a.update(icons[3]);
    a.update(icons[0]);
    ASSERT_TRUE(a.resize_dialog);
    // The file system's own minimum: below the partition, above the data.
    EXPECT_GT(a.resize_dialog->min, 20 * M);
    EXPECT_LT(a.resize_dialog->min, 128 * M);
    EXPECT_EQ(a.resize_dialog->max, 129 * M);
    a.update(Msg::ResizeSlider{static_cast<float>(72.0 / 129.0)});
    const std::uint64_t shrunk = a.resize_dialog->size;
    press(a, i18n::translate("disk.dialog_accept"));
    a.update(icons[4]);
    ASSERT_TRUE(a.create_dialog);
    const std::uint64_t new_start = a.create_dialog->start;
    EXPECT_EQ(new_start, 194 * M);
    a.update(Msg::CreateSlider{0.5f});
    const std::uint64_t new_size = a.create_dialog->size;
    press(a, i18n::translate("disk.dialog_accept"));
    ASSERT_EQ(a.staged_ops.size(), 3u);

    press(a, i18n::translate("disk.apply"));
    press(a, i18n::translate("disk.confirm_yes"));
    ASSERT_TRUE(support::wait_until([&] {
        for (Msg& m : a.poll()) a.update(m);
        fx_->run_jobs();
        return !a.apply_pending;
    })) << daemon_->log();
    EXPECT_FALSE(a.error) << *a.error;
    EXPECT_TRUE(a.staged_ops.empty());

    EXPECT_EQ(table(disk->path()), (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                                       {2048, shrunk / 512}, {new_start / 512, new_size / 512}}));
    ASSERT_TRUE(disk->refresh());
    auto fsck = run_command({"e2fsck", "-n", "-f", disk->part(1)});
    EXPECT_EQ(fsck.exit_code, 0) << fsck.out << fsck.err;
    const std::string back = tmp.path() + "/back.bin";
    ASSERT_EQ(run_command({"debugfs", "-R", "dump data.bin " + back, disk->part(1)}).exit_code, 0);
    EXPECT_EQ(support::sha256(back), digest);
    // The page shows the disk as it now is.
    ASSERT_EQ(a.disk_rows.size(), 1u);
    EXPECT_EQ(a.disk_rows[0].partitions[0].size, shrunk / 512 * 512);
}

TEST_F(DiskPageLive, APrimaryNeverGrowsOverTheLogicalChain) {
    auto disk = LoopDisk::partitioned(256 * M, "label: dos\nstart=1MiB, size=32MiB\nstart=40MiB, size=100MiB, type=5\n"
                                               "start=41MiB, size=20MiB\n");
    ASSERT_TRUE(disk) << disk.error();
    const auto before = table(disk->path());
    auto a = wizard(disk->path());
    a.update(Msg::OpenResize{0, 0});
    ASSERT_TRUE(a.resize_dialog);
    EXPECT_EQ(a.resize_dialog->max, 39 * M);

    // Asked directly, the daemon refuses as well and writes nothing.
    auto errors = client::apply_disk_ops(
        {ipc::RemoteDiskOp::Resize{disk->path(), disk->part(1), 1, 32 * M, 60 * M, std::nullopt}});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("overlaps partition"), std::string::npos) << errors[0];
    EXPECT_EQ(table(disk->path()), before);
}

} // namespace
