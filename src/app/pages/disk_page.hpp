#pragma once
// The disk page's building blocks and its overlays (disk.cpp,
// disk_dialogs.cpp), shared with the tests that read them.

#include "app/disk_editor.hpp"
#include "app/installer_app.hpp"
#include "app/toolkit.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

// Sizes of the rows, following the layout height (never below 320).
struct RowMetrics {
    std::uint32_t icon = 0;   // the disk icon, px
    std::uint32_t button = 0; // the row icon buttons, px
    float label = 0;          // row labels
    float size = 0;           // row sizes
};
RowMetrics row_metrics(WindowSize layout_size);

// Every size the page and its dialogs show, in decimal units.
std::string format_size(std::uint64_t bytes);

zem::Element free_space_row(std::size_t disk, std::size_t row, std::uint64_t start, std::uint64_t size,
                            const RowMetrics& m);
zem::Element selection_highlight(zem::Element element, bool highlighted);
// The new partitions staged on `disk` that lie wholly in [start, end), in
// staging order.
std::vector<std::pair<std::uint64_t, std::uint64_t>> staged_creates_in(const std::vector<StagedDiskOp>& ops,
                                                                       const std::string& disk, std::uint64_t start,
                                                                       std::uint64_t end);

// The one overlay over the page, if any.
std::optional<zem::Element> disk_overlay(const InstallerApp& app);
std::string target_text(const TargetSelection& target, const std::vector<DiskRow>& rows);
std::string staged_op_text(const StagedDiskOp& op, const std::vector<DiskRow>& rows);
zem::Element add_partition_dialog(const CreateDialog& dialog);

} // namespace app
