// The partition editor: what staging keeps, the sizing dialogs' limits, and
// the batch an apply hands over, driven through `update` and `poll`.

#include "app_fixture.hpp"
#include "app/pages/disk_page.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

using app::Msg;
using app::StagedDiskOp;
using disks::Partition;

constexpr std::uint64_t M = 1ull << 20;
constexpr std::uint64_t G = 1ull << 30;

// sda: GPT with its last usable byte 1 MiB before the end. sdb: MBR with a
// primary, a gap, an extended container (2 GiB + 4 GiB) of two logicals,
// and a gap after it.
std::vector<disks::Disk> machine() {
    disks::Disk a = support::make_disk("/dev/sda", 64 * G,
                                       {{"/dev/sda1", std::nullopt, "ext4", 1 * M, 1 * G, 1, false, false},
                                        {"/dev/sda2", std::nullopt, std::nullopt, 1 * G + M, 2 * G, 2, false, false},
                                        {"/dev/sda", std::nullopt, std::nullopt, 3 * G + M, 7 * G, 0, true, false},
                                        {"/dev/sda3", std::nullopt, "crypto_LUKS", 10 * G + M, 1 * G, 3, false, false},
                                        {"/dev/sda", std::nullopt, std::nullopt, 11 * G + M, 53 * G - 2 * M, 0, true, false}});
    a.usable_end = 64 * G - M;
    disks::Disk b = support::make_disk("/dev/sdb", 8 * G,
                                       {{"/dev/sdb1", std::nullopt, "ext4", 1 * M, 1 * G, 1, false, false},
                                        {"/dev/sdb", std::nullopt, std::nullopt, 1 * G + M, 1 * G - M, 0, true, false},
                                        {"/dev/sdb5", std::nullopt, "ext4", 2 * G + M, 1 * G, 5, false, true},
                                        {"/dev/sdb6", std::nullopt, "ext4", 3 * G + 2 * M, 1 * G, 6, false, true},
                                        {"/dev/sdb", std::nullopt, std::nullopt, 6 * G, 2 * G, 0, true, false}},
                                       "msdos");
    b.extended = std::pair{2 * G, 4 * G};
    return {a, b};
}

std::vector<std::string> describe(const std::vector<StagedDiskOp>& ops) {
    std::vector<std::string> out;
    for (const StagedDiskOp& op : ops) {
        if (auto* w = std::get_if<StagedDiskOp::Wipe>(&op.kind)) out.push_back("wipe " + w->disk);
        if (auto* d = std::get_if<StagedDiskOp::Delete>(&op.kind))
            out.push_back("delete " + d->disk + " " + std::to_string(d->number));
        if (auto* r = std::get_if<StagedDiskOp::Resize>(&op.kind))
            out.push_back("resize " + r->disk + " " + std::to_string(r->number) + " " + std::to_string(r->new_size / M));
        if (auto* c = std::get_if<StagedDiskOp::Create>(&op.kind))
            out.push_back("create " + c->disk + " " + std::to_string(c->start / M) + "+" + std::to_string(c->size / M));
    }
    return out;
}

std::string describe(const ipc::RemoteDiskOp& op) {
    if (auto* w = op.get<ipc::RemoteDiskOp::Wipe>()) return "wipe " + w->disk.string();
    if (auto* d = op.get<ipc::RemoteDiskOp::Delete>()) {
        std::string s = "delete " + d->disk.string();
        for (auto n : d->numbers) s += " " + std::to_string(n);
        return s;
    }
    if (auto* r = op.get<ipc::RemoteDiskOp::Resize>())
        return "resize " + r->part.string() + " " + std::to_string(r->current_bytes / M) + "->" +
               std::to_string(r->new_bytes / M) + " " + r->fs.value_or("-");
    auto* c = op.get<ipc::RemoteDiskOp::Create>();
    return "create " + c->disk.string() + " " + std::to_string(c->start_byte / M) + "+" + std::to_string(c->size_bytes / M);
}

class DiskEditor : public apptest::WizardTest {
protected:
    app::InstallerApp editor(bool test = false) {
        auto a = make({false, true, test});
        fx->disks = machine();
        a.disk_rows = app::disk_rows(fx->disks);
        fx->clear();
        return a;
    }
    // Confirms, then polls as the loop would, running the worker when asked.
    void apply(app::InstallerApp& a) {
        a.update(Msg::AskApply{});
        a.update(Msg::ConfirmApply{});
        for (int i = 0; i < 4 && a.apply_pending; ++i) {
            for (Msg& m : a.poll()) a.update(m);
            fx->run_jobs();
        }
        ASSERT_FALSE(a.apply_pending);
    }
};

TEST_F(DiskEditor, Staging) {
    const std::uint64_t gap = 3 * G + M; // sda's 7 GiB gap
    struct Row {
        std::string name;
        std::vector<Msg> msgs;
        std::vector<std::string> staged;
    };
    const std::vector<Row> rows = {
        {"a partition is deleted once", {Msg::StageDelete{0, 1}, Msg::StageDelete{0, 1}}, {"delete /dev/sda 2"}},
        {"a gap has nothing to delete", {Msg::StageDelete{0, 2}}, {}},
        {"indices outside the rows do nothing",
         {Msg::StageDelete{2, 0}, Msg::StageDelete{0, 9}, Msg::OpenResize{0, 9}, Msg::ApplyResize{},
          Msg::OpenCreate{5, gap, 7 * G}, Msg::ApplyCreate{}, Msg::StageWipe{7}},
         {}},
        {"a wipe replaces the disk's earlier edits only",
         {Msg::StageDelete{0, 0}, Msg::StageDelete{1, 0}, Msg::OpenCreate{0, gap, 7 * G}, Msg::ApplyCreate{},
          Msg::StageWipe{0}},
         {"delete /dev/sdb 1", "wipe /dev/sda"}},
        // The wipe runs last in the batch and would undo them.
        {"a disk staged for wiping takes no edits",
         {Msg::StageWipe{0}, Msg::StageDelete{0, 0}, Msg::OpenResize{0, 1}, Msg::ApplyResize{},
          Msg::OpenCreate{0, gap, 7 * G}, Msg::ApplyCreate{}},
         {"wipe /dev/sda"}},
        {"a second resize of a partition replaces the first",
         {Msg::OpenResize{0, 1}, Msg::ResizeSlider{0.5f}, Msg::ApplyResize{}, Msg::OpenResize{0, 1},
          Msg::ResizeSlider{1.0f}, Msg::ApplyResize{}},
         {"resize /dev/sda 2 9216"}},
        {"a cancelled dialog stages nothing",
         {Msg::OpenResize{0, 1}, Msg::CancelResize{}, Msg::ApplyResize{}, Msg::OpenCreate{0, gap, 7 * G},
          Msg::CancelCreate{}, Msg::ApplyCreate{}},
         {}},
        {"a second create at one start replaces the first",
         {Msg::OpenCreate{0, gap, 7 * G}, Msg::CreateSlider{0.5f}, Msg::ApplyCreate{}, Msg::OpenCreate{0, gap, 7 * G},
          Msg::ApplyCreate{}},
         {"create /dev/sda 3073+7168"}},
        {"discard drops everything", {Msg::StageDelete{0, 0}, Msg::StageWipe{1}, Msg::DiscardOps{}}, {}},
        // Grow p2 by 4.5 GiB into the gap: a new partition starts behind it.
        {"a new partition starts after a staged grow",
         {Msg::OpenResize{0, 1}, Msg::ResizeSlider{0.75f}, Msg::ApplyResize{}, Msg::OpenCreate{0, gap, 7 * G},
          Msg::ApplyCreate{}},
         {"resize /dev/sda 2 6912", "create /dev/sda 7937+2304"}},
        {"a grow over the whole gap leaves no room for a new partition",
         {Msg::OpenResize{0, 1}, Msg::ResizeSlider{1.0f}, Msg::ApplyResize{}, Msg::OpenCreate{0, gap, 7 * G},
          Msg::ApplyCreate{}},
         {"resize /dev/sda 2 9216"}},
        {"a grow stops at a new partition staged after it",
         {Msg::OpenCreate{0, gap + 2 * G, 5 * G}, Msg::ApplyCreate{}, Msg::OpenResize{0, 1}, Msg::ResizeSlider{1.0f},
          Msg::ApplyResize{}},
         {"create /dev/sda 5121+5120", "resize /dev/sda 2 4096"}},
        {"only listed free space takes a new partition", {Msg::OpenCreate{0, 1 * M, 100 * M}, Msg::ApplyCreate{}}, {}},
    };
    for (const Row& r : rows) {
        auto a = editor();
        for (const Msg& m : r.msgs) a.update(m);
        EXPECT_EQ(describe(a.staged_ops), r.staged) << r.name;
    }
}

TEST_F(DiskEditor, StagingClearsATargetItWouldDestroy) {
    using T = app::TargetSelection;
    struct Row {
        T target;
        Msg msg;
        bool cleared;
    };
    const std::vector<Row> rows = {
        {{T::Partition{2, "/dev/sda"}}, Msg::StageDelete{0, 1}, true},
        {{T::Partition{1, "/dev/sda"}}, Msg::StageDelete{0, 1}, false},
        {{T::Partition{2, "/dev/sdb"}}, Msg::StageDelete{0, 1}, false},
        {{T::WholeDisk{"/dev//sda/"}}, Msg::StageWipe{0}, true},
        {{T::FreeSpace{3 * G + M, "/dev/sda"}}, Msg::StageWipe{0}, true},
        {{T::Partition{1, "/dev/sdb"}}, Msg::StageWipe{0}, false},
    };
    for (const Row& r : rows) {
        auto a = editor();
        a.target = r.target;
        a.update(r.msg);
        EXPECT_EQ(app::is_none(a.target), r.cleared) << r.msg.tag();
    }
}

TEST_F(DiskEditor, ResizeDialogLimits) {
    struct Row {
        std::string name;
        std::size_t disk, part;
        bool opens;
        std::uint64_t min = 0, max = 0;
        bool unknown_fs = false;
    };
    const std::vector<Row> rows = {
        {"no file system: down to 1 MiB", 0, 1, true, M, 9 * G, true},
        // The backup table lives behind the last usable sector.
        {"unnamed file system: grow only, up to the last usable byte", 0, 3, true, 1 * G, 54 * G - 2 * M, true},
        // Its growth would swallow the head of the logical chain.
        {"a primary stops at the extended container", 1, 0, true, 1 * G, 2 * G - M, false},
        {"a logical partition is not resized", 1, 2, false},
        {"a gap is not resized", 0, 2, false},
    };
    for (const Row& r : rows) {
        auto a = editor();
        a.update(Msg::OpenResize{r.disk, r.part});
        ASSERT_EQ(a.resize_dialog.has_value(), r.opens) << r.name;
        if (!r.opens) continue;
        EXPECT_EQ(a.resize_dialog->min, r.min) << r.name;
        EXPECT_EQ(a.resize_dialog->max, r.max) << r.name;
        EXPECT_EQ(a.resize_dialog->unknown_fs, r.unknown_fs) << r.name;
        EXPECT_EQ(a.resize_dialog->size, a.resize_dialog->current) << r.name;
    }

    // Without the ext tools an ext4 partition may only grow.
    const char* path = std::getenv("PATH");
    const std::string saved = path ? path : "";
    ::setenv("PATH", "/nonexistent", 1);
    auto a = editor();
    a.update(Msg::OpenResize{0, 0});
    ::setenv("PATH", saved.c_str(), 1);
    ASSERT_TRUE(a.resize_dialog);
    EXPECT_EQ(a.resize_dialog->min, 1 * G);
    EXPECT_EQ(a.resize_dialog->max, 1 * G); // touches the next partition
    EXPECT_FALSE(a.resize_dialog->unknown_fs);
}

TEST_F(DiskEditor, SlidersAndTheSmallestGap) {
    struct Row {
        float fraction;
        std::uint64_t size;
    };
    const std::uint64_t min = M, max = 9 * G;
    const std::vector<Row> rows = {
        {1.5f, max}, {-0.2f, min}, {std::nanf(""), min}, {0.5f, max / 2}, {0.0f, min}, {1.0f, max},
    };
    for (const Row& r : rows) EXPECT_EQ(app::disk_editor::slider_size(r.fraction, min, max), r.size) << r.fraction;
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(app::disk_editor::slider_size(1.0f, 0, top), top);

    auto a = editor();
    a.update(Msg::OpenCreate{0, 3 * G + M, M - 1});
    EXPECT_FALSE(a.create_dialog);
    a.update(Msg::OpenCreate{0, 3 * G + M, M});
    ASSERT_TRUE(a.create_dialog);
    EXPECT_EQ(a.create_dialog->min, a.create_dialog->max);
    a.update(Msg::CreateSlider{0.0f});
    EXPECT_EQ(a.create_dialog->size, M);
}

TEST_F(DiskEditor, ApplyHandsOneOrderedBatchToAWorker) {
    auto a = editor();
    a.update(Msg::ApplyOps{}); // nothing pending
    EXPECT_TRUE(fx->calls.empty());
    a.update(Msg::AskApply{}); // nothing staged
    EXPECT_FALSE(a.apply_confirm_open);

    a.update(Msg::StageDelete{1, 3});
    a.update(Msg::StageDelete{0, 1});
    a.update(Msg::StageDelete{1, 2});
    a.update(Msg::OpenCreate{0, 3 * G + M, 7 * G});
    a.update(Msg::CreateSlider{0.25f});
    a.update(Msg::ApplyCreate{});
    a.update(Msg::OpenResize{0, 0});
    a.update(Msg::ApplyResize{});
    a.update(Msg::AskApply{});
    EXPECT_TRUE(a.apply_confirm_open);
    a.update(Msg::ConfirmApply{});
    EXPECT_FALSE(a.apply_confirm_open);
    EXPECT_TRUE(a.apply_pending);
    EXPECT_EQ(a.poll_interval(), std::chrono::milliseconds(100));

    // The first poll starts the worker; the loop goes on meanwhile.
    for (int i = 0; i < 3; ++i)
        for (Msg& m : a.poll()) a.update(m);
    EXPECT_EQ(fx->pending_jobs.size(), 1u);
    EXPECT_TRUE(a.apply_pending);
    EXPECT_EQ(a.staged_ops.size(), 5u);
    a.update(Msg::StageWipe{0}); // the batch is already taken
    EXPECT_EQ(a.staged_ops.size(), 5u);

    fx->disks.pop_back(); // the batch took sdb's partitions away
    fx->run_jobs();
    for (Msg& m : a.poll()) a.update(m);
    EXPECT_FALSE(a.apply_pending);
    EXPECT_TRUE(a.staged_ops.empty());
    EXPECT_EQ(a.disk_rows.size(), 1u);
    EXPECT_FALSE(a.error);
    std::vector<std::string> batch;
    for (const auto& op : fx->last_disk_ops) batch.push_back(describe(op));
    EXPECT_EQ(batch, (std::vector<std::string>{"resize /dev/sda1 1024->1024 ext4", "create /dev/sda 3073+1792",
                                               "delete /dev/sdb 6 5", "delete /dev/sda 2"}));
}

TEST_F(DiskEditor, ApplyOutcomes) {
    // Failures come back translated, one per line.
    {
        auto a = editor();
        fx->disk_ops_result = {"no-daemon", "resize partition: boom"};
        a.update(Msg::StageDelete{0, 0});
        apply(a);
        EXPECT_EQ(a.error, i18n::translate("error.no_daemon") + "\nresize partition: boom");
        EXPECT_TRUE(a.staged_ops.empty());
    }
    // In test mode nothing is applied and the rows stay.
    {
        auto a = editor(true);
        a.update(Msg::StageDelete{0, 0});
        apply(a);
        EXPECT_FALSE(a.error);
        EXPECT_EQ(std::count(fx->calls.begin(), fx->calls.end(), "spawn"), 0);
        EXPECT_EQ(a.disk_rows[0].partitions.size(), 5u);
    }
    // A partition that moved since it was staged is never touched.
    {
        auto a = editor();
        a.update(Msg::StageDelete{0, 1});
        fx->disks[0].partitions[1].start += M;
        apply(a);
        EXPECT_EQ(a.error, "partition 2 of /dev/sda changed since the changes were staged; nothing was written, "
                           "list the disks again");
        EXPECT_TRUE(fx->last_disk_ops.empty());
        EXPECT_TRUE(a.staged_ops.empty());
    }
    // Nor does a new partition go where free space no longer is, or onto a
    // disk that went away.
    {
        auto a = editor();
        a.update(Msg::OpenCreate{0, 3 * G + M, 7 * G});
        a.update(Msg::ApplyCreate{});
        a.update(Msg::StageDelete{1, 0});
        fx->disks[0].partitions[2].size -= M;
        apply(a);
        EXPECT_EQ(a.error, "the free space at byte " + std::to_string(3 * G + M) +
                               " of /dev/sda changed since the changes were staged; nothing was written, list the disks again");
        auto b = editor();
        b.update(Msg::StageDelete{1, 0});
        fx->disks.pop_back();
        apply(b);
        EXPECT_EQ(b.error, "/dev/sdb is gone since the changes were staged; nothing was written");
        EXPECT_TRUE(fx->last_disk_ops.empty());
    }
}

TEST_F(DiskEditor, StagedOperationsFollowTheirDiskWhenRowsAreRebuilt) {
    auto a = editor();
    a.set_page(app::Page::Language);
    a.update(Msg::StageDelete{1, 0}); // sdb1
    // A disk appears in front; the language change lists the disks again.
    fx->disks.insert(fx->disks.begin(), support::make_disk("/dev/nvme0n1", 32 * G));
    a.update(Msg::PickLanguage{"de"});
    ASSERT_EQ(a.disk_rows[2].path, "/dev/sdb");
    EXPECT_EQ(app::staged_op_text(a.staged_ops[0], a.disk_rows),
              i18n::translate_with("disk.op_delete", {{"num", "1"}, {"disk", a.disk_rows[2].label}}));
    apply(a);
    ASSERT_EQ(fx->last_disk_ops.size(), 1u);
    EXPECT_EQ(describe(fx->last_disk_ops[0]), "delete /dev/sdb 1");
}

TEST_F(DiskEditor, TargetIsKeptOnlyWhileItsPartitionIsUnchanged) {
    using T = app::TargetSelection;
    // Deleting logical 5 renumbers 6 to 5; a new logical then takes number 6.
    auto renumbered = [](std::vector<disks::Disk>& d) {
        auto& p = d[1].partitions;
        p.erase(p.begin() + 2);
        p[2].number = 5;
        p[2].path = "/dev/sdb5";
        p.insert(p.begin() + 3, Partition{"/dev/sdb6", std::nullopt, std::nullopt, 4 * G + 3 * M, G, 6, false, true});
    };
    struct Row {
        T target;
        bool kept;
    };
    const std::vector<Row> rows = {
        {{T::Partition{6, "/dev/sdb"}}, false},
        {{T::Partition{1, "/dev/sdb"}}, true},
        {{T::WholeDisk{"/dev/sdb"}}, true},
        {{T::FreeSpace{1 * G + M, "/dev/sdb"}}, true},
    };
    for (const Row& r : rows) {
        auto a = editor();
        a.target = r.target;
        a.update(Msg::StageDelete{1, 2});
        renumbered(fx->disks);
        apply(a);
        EXPECT_EQ(!app::is_none(a.target), r.kept) << a.disk_rows[1].partitions.size();
    }
    // A failed install may have renumbered the disk as well.
    auto a = editor();
    a.target = {T::Partition{6, "/dev/sdb"}};
    a.set_page(app::Page::Progress);
    renumbered(fx->disks);
    fx->last_handle->update([](install::InstallSnapshot& s) { s.error = "cancelled"; });
    a.update(Msg::PollInstall{});
    EXPECT_EQ(a.page, app::Page::Disk);
    EXPECT_TRUE(app::is_none(a.target));
}

} // namespace
