#pragma once
// The disk page's partition editor: staged operations, the sizing dialogs
// and the batch that applies them.
//
// Staged operations and open dialogs name their disk by device path and
// their partition by number together with the start and size it had when
// it was staged: the rows are rebuilt (language change, listing again)
// while operations wait, and a row index or a bare number could then point
// at another disk or partition.

#include "app/disk_rows.hpp"
#include "app/msg.hpp"
#include "ipc/protocol.hpp"

#include <cstdint>
#include <expected>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace app {

class InstallerApp;

inline constexpr std::uint64_t MIN_PARTITION_BYTES = 1u << 20;

struct StagedDiskOp {
    struct Wipe {
        std::string disk;
    };
    struct Delete {
        std::string disk;
        std::uint32_t number = 0;
        std::uint64_t start = 0; // the partition as it was staged against
        std::uint64_t size = 0;
    };
    struct Resize {
        std::string disk;
        std::uint32_t number = 0;
        std::uint64_t new_size = 0;
        std::uint64_t start = 0;
        std::uint64_t size = 0;
    };
    struct Create {
        std::string disk;
        std::uint64_t start = 0;
        std::uint64_t size = 0;
    };
    std::variant<Wipe, Delete, Resize, Create> kind;

    const std::string& disk() const;
};

struct ResizeDialog {
    std::string disk;
    std::uint32_t number = 0;
    std::uint64_t start = 0; // the partition's start when opened
    std::uint64_t min = 0;
    std::uint64_t max = 0;
    std::uint64_t size = 0;
    std::uint64_t current = 0;
    bool unknown_fs = false;
};

struct CreateDialog {
    std::string disk;
    std::uint64_t start = 0;
    std::uint64_t min = MIN_PARTITION_BYTES;
    std::uint64_t max = 0;
    std::uint64_t size = 0;
};

// Where a batch running on a worker leaves its failure texts.
struct ApplySlot {
    std::mutex mutex;
    std::optional<std::vector<std::string>> result;
};

namespace disk_editor {

void update(InstallerApp& app, Msg m);

// The row of the disk at `path`, compared as paths.
std::optional<std::size_t> row_of(const std::vector<DiskRow>& rows, const std::string& path);
// Whether a wipe of the disk at `path` is staged.
bool wipe_staged(const std::vector<StagedDiskOp>& ops, const std::string& path);

// The largest size partition row `p` of disk row `d` may be given: up to the
// next partition (the rows' own limit) and never over a new partition staged
// after it.
std::uint64_t resize_limit(const InstallerApp& app, std::size_t d, std::size_t p);

// A free region offered for a new partition, moved past staged grows that
// reach into it and cut short at the next staged new partition.
struct Region {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
};
Region create_region(const std::vector<StagedDiskOp>& ops, const std::string& disk, std::uint64_t start,
                     std::uint64_t size);

// The slider's fraction as a size within [min, max].
std::uint64_t slider_size(float fraction, std::uint64_t min, std::uint64_t max);

// The batch for `ops` against the disks as listed now: every partition an
// operation names must still have the number, start and size it was staged
// against, and every new partition must lie in free space. A refusal names
// what changed; nothing is then applied.
[[nodiscard]] std::expected<std::vector<ipc::RemoteDiskOp>, std::string>
build_batch(const std::vector<StagedDiskOp>& ops, const std::vector<DiskRow>& rows);

} // namespace disk_editor
} // namespace app
