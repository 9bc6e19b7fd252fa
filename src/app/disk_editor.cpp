// The partition editor: changes are only staged while the user edits, then
// applied in one batch on a worker, after which the rows show the disks as
// they now are.

#include "app/disk_editor.hpp"

#include "app/installer_app.hpp"
#include "fs/fs.hpp"
#include "install/preflight.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <type_traits>
#include <utility>

namespace app {

const std::string& StagedDiskOp::disk() const {
    return std::visit([](const auto& k) -> const std::string& { return k.disk; }, kind);
}

namespace disk_editor {

namespace {

using Op = StagedDiskOp;

std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

bool on_disk(const Op& op, const std::string& path) { return install::same_path(op.disk(), path); }

const std::string* target_disk(const TargetSelection& t) {
    if (auto* w = std::get_if<TargetSelection::WholeDisk>(&t.kind)) return &w->disk;
    if (auto* p = std::get_if<TargetSelection::Partition>(&t.kind)) return &p->disk;
    if (auto* f = std::get_if<TargetSelection::FreeSpace>(&t.kind)) return &f->disk;
    return nullptr;
}

const PartitionRow* numbered(const DiskRow& row, std::uint32_t number) {
    for (const PartitionRow& p : row.partitions)
        if (!p.free && p.number == number) return &p;
    return nullptr;
}

// The partition an open resize dialog or a staged operation was made for,
// as long as it still has the number and start it had then.
const PartitionRow* same_partition(const DiskRow& row, std::uint32_t number, std::uint64_t start) {
    const PartitionRow* p = numbered(row, number);
    return p != nullptr && p->start == start ? p : nullptr;
}

void stage_wipe(InstallerApp& app, std::size_t d) {
    if (d >= app.disk_rows.size()) return;
    const std::string path = app.disk_rows[d].path;
    std::erase_if(app.staged_ops, [&](const Op& op) { return on_disk(op, path); });
    app.staged_ops.push_back({Op::Wipe{path}});
    if (const std::string* disk = target_disk(app.target); disk && install::same_path(*disk, path)) app.target = {};
}

void stage_delete(InstallerApp& app, std::size_t d, std::size_t p) {
    if (d >= app.disk_rows.size() || p >= app.disk_rows[d].partitions.size()) return;
    const DiskRow& row = app.disk_rows[d];
    const PartitionRow& part = row.partitions[p];
    // A gap has nothing to delete; a disk about to be wiped takes no edits,
    // since the wipe would undo them.
    if (part.free || wipe_staged(app.staged_ops, row.path)) return;
    const bool staged = std::any_of(app.staged_ops.begin(), app.staged_ops.end(), [&](const Op& op) {
        auto* del = std::get_if<Op::Delete>(&op.kind);
        return del != nullptr && del->number == part.number && install::same_path(del->disk, row.path);
    });
    if (!staged) app.staged_ops.push_back({Op::Delete{row.path, part.number, part.start, part.size}});
    if (auto* t = std::get_if<TargetSelection::Partition>(&app.target.kind);
        t && t->number == part.number && install::same_path(t->disk, row.path))
        app.target = {};
}

void open_resize(InstallerApp& app, std::size_t d, std::size_t p) {
    if (d >= app.disk_rows.size() || p >= app.disk_rows[d].partitions.size()) return;
    const DiskRow& row = app.disk_rows[d];
    const PartitionRow& part = row.partitions[p];
    if (part.free || part.logical || wipe_staged(app.staged_ops, row.path)) return;
    const fs::FsKind kind = fs::FsKind::from_name(part.fs);
    std::uint64_t floor = part.size;
    if (kind == fs::FsKind::Ext || kind == fs::FsKind::Ntfs || kind == fs::FsKind::Fat) {
        if (fs::resize_supported(kind)) floor = fs::min_size(part.path, kind).value_or(part.size);
    } else if (kind == fs::FsKind::Unknown && !part.fs) {
        // Nothing recognisable inside: the table entry alone changes.
        floor = MIN_PARTITION_BYTES;
    }
    // A file system we cannot name may hold data anywhere in the partition:
    // it may only grow (`floor` stays its size).
    const std::uint64_t max = resize_limit(app, d, p);
    const std::uint64_t min = std::min(std::max(floor, MIN_PARTITION_BYTES), max);
    ResizeDialog dlg;
    dlg.disk = row.path;
    dlg.number = part.number;
    dlg.start = part.start;
    dlg.min = min;
    dlg.max = max;
    dlg.size = std::clamp(part.size, min, max);
    dlg.current = part.size;
    dlg.unknown_fs = kind == fs::FsKind::Unknown;
    app.resize_dialog = std::move(dlg);
}

void apply_resize(InstallerApp& app) {
    if (!app.resize_dialog) return;
    const ResizeDialog dlg = std::move(*app.resize_dialog);
    app.resize_dialog.reset();
    auto d = row_of(app.disk_rows, dlg.disk);
    if (!d || wipe_staged(app.staged_ops, dlg.disk)) return;
    const DiskRow& row = app.disk_rows[*d];
    const PartitionRow* part = same_partition(row, dlg.number, dlg.start);
    if (part == nullptr) return;
    const auto p = static_cast<std::size_t>(part - row.partitions.data());
    const std::uint64_t size = std::min(dlg.size, resize_limit(app, *d, p));
    std::erase_if(app.staged_ops, [&](const Op& op) {
        auto* r = std::get_if<Op::Resize>(&op.kind);
        return r != nullptr && r->number == part->number && install::same_path(r->disk, row.path);
    });
    app.staged_ops.push_back({Op::Resize{row.path, part->number, size, part->start, part->size}});
}

void open_create(InstallerApp& app, const Msg::OpenCreate& m) {
    if (m.size < MIN_PARTITION_BYTES || m.disk >= app.disk_rows.size()) return;
    const DiskRow& row = app.disk_rows[m.disk];
    if (wipe_staged(app.staged_ops, row.path)) return;
    // Only free space the rows list may hold a new partition.
    const std::uint64_t end = sat_add(m.start, m.size);
    const bool in_gap = std::any_of(row.partitions.begin(), row.partitions.end(), [&](const PartitionRow& g) {
        return g.free && g.start <= m.start && end <= sat_add(g.start, g.size);
    });
    if (!in_gap) return;
    const Region r = create_region(app.staged_ops, row.path, m.start, m.size);
    if (r.size < MIN_PARTITION_BYTES) return;
    app.create_dialog = CreateDialog{row.path, r.start, MIN_PARTITION_BYTES, r.size, r.size};
}

void apply_create(InstallerApp& app) {
    if (!app.create_dialog) return;
    const CreateDialog dlg = std::move(*app.create_dialog);
    app.create_dialog.reset();
    if (!row_of(app.disk_rows, dlg.disk) || wipe_staged(app.staged_ops, dlg.disk)) return;
    std::erase_if(app.staged_ops, [&](const Op& op) {
        auto* c = std::get_if<Op::Create>(&op.kind);
        return c != nullptr && c->start == dlg.start && install::same_path(c->disk, dlg.disk);
    });
    app.staged_ops.push_back({Op::Create{dlg.disk, dlg.start, std::clamp(dlg.size, dlg.min, dlg.max)}});
}

// The end of an apply, whatever became of it: the staged list goes, the
// rows show the disks as they now are, and a target that may now name
// something else is dropped.
void finish_apply(InstallerApp& app, const std::vector<std::string>& errors) {
    std::vector<DiskRow> before = std::move(app.disk_rows);
    app.staged_ops.clear();
    app.disk_rows = app::disk_rows(app.fx->list_disks());
    if (!is_none(app.target) && !target_survives(app.target, before, app.disk_rows)) app.target = {};
    if (!errors.empty()) {
        std::string joined;
        for (std::size_t i = 0; i < errors.size(); ++i) {
            if (i) joined += '\n';
            joined += errors[i];
        }
        app.error = std::move(joined);
    }
    app.apply_pending = false;
}

void apply_ops(InstallerApp& app) {
    if (!app.apply_pending) return;
    if (app.apply_job) {
        std::vector<std::string> errors;
        {
            std::lock_guard lock(app.apply_job->mutex);
            if (!app.apply_job->result) return;
            errors = std::move(*app.apply_job->result);
        }
        app.apply_job.reset();
        for (std::string& e : errors) e = daemon_error_text(e);
        finish_apply(app, errors);
        return;
    }
    if (app.test) {
        finish_apply(app, {});
        return;
    }
    // The disks may have changed since the operations were staged: check
    // them against a fresh listing, and build the batch from it.
    auto batch = build_batch(app.staged_ops, app::disk_rows(app.fx->list_disks()));
    if (!batch || batch->empty()) {
        finish_apply(app, batch ? std::vector<std::string>{} : std::vector<std::string>{batch.error()});
        return;
    }
    // Shrinking a large file system takes minutes: the loop keeps turning
    // the busy overlay's spinner and answering the compositor meanwhile.
    auto slot = std::make_shared<ApplySlot>();
    app.apply_job = slot;
    app.fx->spawn([fx = app.fx, slot, ops = std::move(*batch)] {
        std::vector<std::string> errors;
        try {
            errors = fx->apply_disk_ops(ops);
        } catch (const std::exception& e) {
            errors = {std::string("disk operations: ") + e.what()};
        } catch (...) {
            errors = {"disk operations failed"};
        }
        std::lock_guard lock(slot->mutex);
        slot->result = std::move(errors);
    });
}

} // namespace

std::optional<std::size_t> row_of(const std::vector<DiskRow>& rows, const std::string& path) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (install::same_path(rows[i].path, path)) return i;
    return std::nullopt;
}

bool wipe_staged(const std::vector<StagedDiskOp>& ops, const std::string& path) {
    return std::any_of(ops.begin(), ops.end(), [&](const Op& op) {
        return std::holds_alternative<Op::Wipe>(op.kind) && on_disk(op, path);
    });
}

std::uint64_t resize_limit(const InstallerApp& app, std::size_t d, std::size_t p) {
    const DiskRow& row = app.disk_rows[d];
    const PartitionRow& part = row.partitions[p];
    std::uint64_t limit = part.max_size;
    for (const Op& op : app.staged_ops) {
        auto* c = std::get_if<Op::Create>(&op.kind);
        if (c != nullptr && c->start > part.start && install::same_path(c->disk, row.path))
            limit = std::min(limit, c->start - part.start);
    }
    return limit;
}

Region create_region(const std::vector<StagedDiskOp>& ops, const std::string& disk, std::uint64_t start,
                     std::uint64_t size) {
    // What staged operations already claim on this disk: grown partitions
    // and other new partitions (one at this very start is replaced, not
    // kept beside the new one).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> claims;
    for (const Op& op : ops) {
        if (!on_disk(op, disk)) continue;
        if (auto* r = std::get_if<Op::Resize>(&op.kind)) claims.emplace_back(r->start, sat_add(r->start, r->new_size));
        if (auto* c = std::get_if<Op::Create>(&op.kind); c && c->start != start)
            claims.emplace_back(c->start, sat_add(c->start, c->size));
    }
    std::uint64_t end = sat_add(start, size);
    for (bool moved = true; moved;) {
        moved = false;
        for (auto [a, b] : claims)
            if (a <= start && b > start) {
                start = std::min(b, end);
                moved = true;
            }
        if (start >= end) return {start, 0};
    }
    for (auto [a, b] : claims)
        if (a > start) end = std::min(end, a);
    return {start, end - start};
}

std::uint64_t slider_size(float fraction, std::uint64_t min, std::uint64_t max) {
    double f = std::isnan(fraction) ? 0.0 : std::clamp(static_cast<double>(fraction), 0.0, 1.0);
    const double v = static_cast<double>(max) * f;
    // A product at 2^64 does not convert: it is the maximum anyway.
    const std::uint64_t size = v >= 18446744073709551616.0 ? max : static_cast<std::uint64_t>(v);
    return std::clamp(size, std::min(min, max), max);
}

std::expected<std::vector<ipc::RemoteDiskOp>, std::string> build_batch(const std::vector<StagedDiskOp>& ops,
                                                                       const std::vector<DiskRow>& rows) {
    // Worded like the daemon's own refusals, which the page shows as they
    // come: nothing of the batch is written.
    auto changed = [](const std::string& disk, std::uint32_t number) {
        return "partition " + std::to_string(number) + " of " + disk +
               " changed since the changes were staged; nothing was written, list the disks again";
    };
    std::vector<ipc::RemoteDiskOp> resizes, creates, wipes;
    std::vector<ipc::RemoteDiskOp::Delete> deletes;
    for (const Op& op : ops) {
        auto d = row_of(rows, op.disk());
        if (auto* w = std::get_if<Op::Wipe>(&op.kind)) {
            // A disk that went away has nothing left to wipe.
            if (!d) continue;
            const std::string& path = rows[*d].path;
            std::erase_if(deletes, [&](const auto& del) { return install::same_path(del.disk.string(), path); });
            wipes.push_back(ipc::RemoteDiskOp::Wipe{path});
            (void)w;
            continue;
        }
        if (!d) return std::unexpected(op.disk() + " is gone since the changes were staged; nothing was written");
        const DiskRow& row = rows[*d];
        if (auto* del = std::get_if<Op::Delete>(&op.kind)) {
            const PartitionRow* p = same_partition(row, del->number, del->start);
            if (p == nullptr || p->size != del->size) return std::unexpected(changed(row.path, del->number));
            auto it = std::find_if(deletes.begin(), deletes.end(),
                                   [&](const auto& x) { return install::same_path(x.disk.string(), row.path); });
            if (it == deletes.end()) deletes.push_back({row.path, {del->number}});
            else it->numbers.push_back(del->number);
        } else if (auto* r = std::get_if<Op::Resize>(&op.kind)) {
            const PartitionRow* p = same_partition(row, r->number, r->start);
            if (p == nullptr || p->size != r->size) return std::unexpected(changed(row.path, r->number));
            resizes.push_back(ipc::RemoteDiskOp::Resize{row.path, p->path, r->number, p->size, r->new_size, p->fs});
        } else if (auto* c = std::get_if<Op::Create>(&op.kind)) {
            const std::uint64_t end = sat_add(c->start, c->size);
            const bool in_gap = std::any_of(row.partitions.begin(), row.partitions.end(), [&](const PartitionRow& g) {
                return g.free && g.start <= c->start && end <= sat_add(g.start, g.size);
            });
            if (!in_gap)
                return std::unexpected("the free space at byte " + std::to_string(c->start) + " of " + row.path +
                                       " changed since the changes were staged; nothing was written, list the disks again");
            creates.push_back(ipc::RemoteDiskOp::Create{row.path, c->start, c->size});
        }
    }
    std::vector<ipc::RemoteDiskOp> batch = std::move(resizes);
    for (auto& c : creates) batch.push_back(std::move(c));
    for (auto& del : deletes) batch.push_back(std::move(del));
    for (auto& w : wipes) batch.push_back(std::move(w));
    return batch;
}

void update(InstallerApp& app, Msg m) {
    // While a batch is being applied the staged list is what it was built
    // from; edits made now would vanish with it.
    const bool applying = app.apply_pending;
    std::visit(
        [&](auto& k) {
            using T = std::decay_t<decltype(k)>;
            using M = Msg;
            if constexpr (std::is_same_v<T, M::ApplyOps>) {
                apply_ops(app);
            } else if constexpr (std::is_same_v<T, M::AskApply>) {
                if (!app.staged_ops.empty() && !applying) app.apply_confirm_open = true;
            } else if constexpr (std::is_same_v<T, M::ConfirmApply>) {
                app.apply_confirm_open = false;
                app.apply_pending = true;
            } else if constexpr (std::is_same_v<T, M::CancelApply>) {
                app.apply_confirm_open = false;
            } else if constexpr (std::is_same_v<T, M::CancelResize>) {
                app.resize_dialog.reset();
            } else if constexpr (std::is_same_v<T, M::CancelCreate>) {
                app.create_dialog.reset();
            } else if constexpr (std::is_same_v<T, M::ResizeSlider>) {
                if (auto& dlg = app.resize_dialog) dlg->size = slider_size(k.fraction, dlg->min, dlg->max);
            } else if constexpr (std::is_same_v<T, M::CreateSlider>) {
                if (auto& dlg = app.create_dialog) dlg->size = slider_size(k.fraction, dlg->min, dlg->max);
            } else if (applying) {
                return;
            } else if constexpr (std::is_same_v<T, M::StageWipe>) {
                stage_wipe(app, k.disk);
            } else if constexpr (std::is_same_v<T, M::StageDelete>) {
                stage_delete(app, k.disk, k.partition);
            } else if constexpr (std::is_same_v<T, M::DiscardOps>) {
                app.staged_ops.clear();
            } else if constexpr (std::is_same_v<T, M::OpenResize>) {
                open_resize(app, k.disk, k.partition);
            } else if constexpr (std::is_same_v<T, M::ApplyResize>) {
                apply_resize(app);
            } else if constexpr (std::is_same_v<T, M::OpenCreate>) {
                open_create(app, k);
            } else if constexpr (std::is_same_v<T, M::ApplyCreate>) {
                apply_create(app);
            }
        },
        m.kind);
}

} // namespace disk_editor
} // namespace app
