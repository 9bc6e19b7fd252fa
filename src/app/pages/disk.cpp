// The disk page: every disk as a card of its partitions and free gaps, the
// target chosen by a tap, partition edits staged from small row buttons.

#include "app/pages/disk_page.hpp"
#include "app/pages/page_parts.hpp"
#include "app/pages/pages.hpp"

#include "app/scaffolds.hpp"
#include "fs/fs.hpp"
#include "i18n/translate.hpp"

#include <zem/widgets/divider_paint.hpp>

#include <fmt/format.h>

#include <algorithm>

namespace app {

namespace {

constexpr zem::Color NEW_PARTITION_GREEN{0.18f, 0.62f, 0.3f, 1.0f};

zem::Color dimmed(zem::Color c) {
    c.a *= 0.55f;
    return c;
}

// Label over size, taking what the row leaves.
zem::Element texts_block(zem::Text label, zem::Text size) {
    zem::Column col;
    col.spacing = zem::Length::px(1);
    col.padding = zem::Length::px(16);
    col.children.push_back(std::move(label));
    col.children.push_back(std::move(size));
    zem::Expanded x;
    x.child = zem::Element(std::move(col));
    x.weight = 1;
    return x;
}

zem::Row row_of_children(std::vector<zem::Element> children) {
    zem::Row row;
    row.spacing = zem::Length::px(8);
    row.padding = zem::Length::px(0);
    row.children = std::move(children);
    return row;
}

zem::Element pressable(zem::Element child, Msg m) {
    zem::GestureArea g;
    g.on_tap = send(std::move(m));
    g.child = std::move(child);
    return g;
}

// A plain button showing a theme icon; without the icon a flexible spacer
// keeps its place and the row still works through its tap. Its tooltip
// says what it does: it is also the name a screen reader reads for it.
zem::Element icon_button(const char* name, std::uint32_t px, Msg m, std::string tooltip) {
    auto pic = zem::theme::icon(name, px);
    if (!pic) return zem::Spacer{};
    zem::Button b;
    b.content = zem::ImageData::from(pic);
    b.tooltip = std::move(tooltip);
    b.on_press = send(std::move(m));
    b.style = zem::ButtonStyle::Plain;
    b.width = zem::Length::px(static_cast<float>(px));
    b.height = zem::Length::px(static_cast<float>(px));
    b.icon_size = zem::Length::px(static_cast<float>(px));
    return b;
}

zem::Element text_button(const std::string& label, std::optional<Msg> m, zem::ButtonStyle style) {
    zem::Button b;
    b.content = label;
    if (m) b.on_press = send(std::move(*m));
    b.font_size = control_font();
    b.height = control_height();
    b.style = style;
    return b;
}

bool resize_offered(const PartitionRow& p) {
    switch (static_cast<fs::FsKind::Value>(fs::FsKind::from_name(p.fs))) {
    case fs::FsKind::Ext: return fs::find_in_path("resize2fs") && fs::find_in_path("tune2fs");
    case fs::FsKind::Ntfs: return fs::find_in_path("ntfsresize");
    case fs::FsKind::Fat: return fs::find_in_path("fatresize");
    case fs::FsKind::Unknown: return true;
    default: return false;
    }
}

const std::string* target_path(const TargetSelection& t) {
    if (auto* w = std::get_if<TargetSelection::WholeDisk>(&t.kind)) return &w->disk;
    if (auto* p = std::get_if<TargetSelection::Partition>(&t.kind)) return &p->disk;
    if (auto* f = std::get_if<TargetSelection::FreeSpace>(&t.kind)) return &f->disk;
    return nullptr;
}

bool row_selected(const TargetSelection& t, const DiskRow& disk, const PartitionRow& p) {
    const std::string* path = target_path(t);
    if (path == nullptr || !install::same_path(*path, disk.path)) return false;
    if (auto* part = std::get_if<TargetSelection::Partition>(&t.kind)) return !p.free && part->number == p.number;
    if (auto* gap = std::get_if<TargetSelection::FreeSpace>(&t.kind)) return p.free && gap->start == p.start;
    return false;
}

bool delete_staged(const std::vector<StagedDiskOp>& ops, const DiskRow& disk, const PartitionRow& p) {
    return std::any_of(ops.begin(), ops.end(), [&](const StagedDiskOp& op) {
        auto* d = std::get_if<StagedDiskOp::Delete>(&op.kind);
        return d != nullptr && d->number == p.number && install::same_path(d->disk, disk.path);
    });
}

std::optional<std::uint64_t> staged_resize(const std::vector<StagedDiskOp>& ops, const DiskRow& disk,
                                           const PartitionRow& p) {
    std::optional<std::uint64_t> size;
    for (const StagedDiskOp& op : ops)
        if (auto* r = std::get_if<StagedDiskOp::Resize>(&op.kind);
            r && r->number == p.number && r->start == p.start && install::same_path(r->disk, disk.path))
            size = r->new_size;
    return size;
}

std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

zem::Element disk_card(const InstallerApp& app, std::size_t i, const RowMetrics& m) {
    const zem::Palette pal = zem::theme::palette();
    const DiskRow& disk = app.disk_rows[i];
    const auto* whole = std::get_if<TargetSelection::WholeDisk>(&app.target.kind);
    const bool disk_selected = whole != nullptr && install::same_path(whole->disk, disk.path);
    const bool wiped = disk_editor::wipe_staged(app.staged_ops, disk.path);

    zem::Column card;
    card.spacing = zem::Length::px(0);
    card.padding = zem::Length::px(16);

    {
        std::vector<zem::Element> cells;
        if (auto pic = zem::theme::icon(DISK_ICON_NAMES[static_cast<std::size_t>(disk.icon)], m.icon)) {
            zem::Image img;
            img.width = zem::Length::px(static_cast<float>(m.icon));
            img.height = zem::Length::px(static_cast<float>(m.icon));
            img.image = zem::ImageData::from(pic);
            img.opacity = 1.0f;
            cells.push_back(std::move(img));
        } else {
            cells.push_back(zem::Spacer{});
        }
        zem::Text label = parts::text(disk.label, m.label, wiped ? dimmed(pal.text_primary) : pal.text_primary);
        label.font_weight(700);
        cells.push_back(texts_block(std::move(label), parts::text(format_size(disk.size), m.size,
                                                               wiped ? dimmed(pal.text_secondary) : pal.text_secondary)));
        card.children.push_back(
            selection_highlight(pressable(row_of_children(std::move(cells)), Msg::SelectDisk{i}), disk_selected));
    }
    if (!disk.partitions.empty()) {
        zem::Divider div = zem::theme::divider_paint();
        div.margin = zem::Length::px(0);
        card.children.push_back(std::move(div));
    }

    for (std::size_t j = 0; j < disk.partitions.size(); ++j) {
        const PartitionRow& p = disk.partitions[j];
        const bool highlighted = disk_selected || row_selected(app.target, disk, p);
        if (!p.free) {
            const bool dim = wiped || delete_staged(app.staged_ops, disk, p);
            std::string size = format_size(p.size);
            if (auto to = staged_resize(app.staged_ops, disk, p)) size += " \u2192 " + format_size(*to);
            std::vector<zem::Element> cells;
            cells.push_back(texts_block(parts::text(p.label, m.label, dim ? dimmed(pal.text_primary) : pal.text_primary),
                                        parts::text(size, m.size, dim ? dimmed(pal.text_secondary) : pal.text_secondary)));
            if (resize_offered(p))
                cells.push_back(icon_button("navigation/full-screen-expand", m.button, Msg::OpenResize{i, j},
                                            i18n::translate("disk.resize_title")));
            cells.push_back(icon_button(
                "actions/delete", m.button, Msg::StageDelete{i, j},
                i18n::translate_with("disk.op_delete", {{"num", std::to_string(p.number)}, {"disk", disk.label}})));
            card.children.push_back(
                selection_highlight(pressable(row_of_children(std::move(cells)), Msg::SelectPartition{i, j}), highlighted));
            continue;
        }
        const std::uint64_t end = sat_add(p.start, p.size);
        auto creates = staged_creates_in(app.staged_ops, disk.path, p.start, end);
        if (creates.empty()) {
            std::vector<zem::Element> cells;
            cells.push_back(texts_block(parts::text(p.label, m.label, pal.text_primary),
                                        parts::text(format_size(p.size), m.size, pal.text_secondary)));
            cells.push_back(icon_button("actions/add", m.button, Msg::OpenCreate{i, p.start, p.size},
                                        i18n::translate("disk.add_title")));
            card.children.push_back(
                selection_highlight(pressable(row_of_children(std::move(cells)), Msg::SelectPartition{i, j}), highlighted));
            continue;
        }
        std::stable_sort(creates.begin(), creates.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::uint64_t cursor = p.start;
        auto rest = [&](std::uint64_t upto) {
            if (upto > cursor && upto - cursor >= MIN_PARTITION_BYTES)
                card.children.push_back(selection_highlight(free_space_row(i, j, cursor, upto - cursor, m), highlighted));
        };
        for (auto [start, size] : creates) {
            rest(start);
            zem::Text label = parts::text(i18n::translate("disk.partition_new"), m.label, NEW_PARTITION_GREEN);
            label.font_weight(700);
            std::vector<zem::Element> cells;
            cells.push_back(texts_block(std::move(label), parts::text(format_size(size), m.size, NEW_PARTITION_GREEN)));
            card.children.push_back(row_of_children(std::move(cells)));
            cursor = std::max(cursor, sat_add(start, size));
        }
        rest(end);
    }

    zem::Container c{zem::Element(std::move(card))};
    c.fill = zem::Paint{pal.surface};
    c.radii = {16, 16, 16, 16};
    c.insets(zem::Length::px(0));
    return c;
}

} // namespace

RowMetrics row_metrics(WindowSize layout_size) {
    const float h = std::max(static_cast<float>(layout_size.second), 320.0f);
    RowMetrics m;
    m.icon = static_cast<std::uint32_t>(std::max(0.03f * h, 14.0f));
    m.button = static_cast<std::uint32_t>(std::max(0.02f * h, 10.0f));
    m.label = 0.55f * static_cast<float>(m.icon);
    m.size = 0.35f * static_cast<float>(m.icon);
    return m;
}

std::string format_size(std::uint64_t bytes) {
    const double x = static_cast<double>(bytes);
    if (x / 1e9 >= 1.0) return fmt::format("{:.1f} GB", x / 1e9);
    return fmt::format("{:.0f} MB", x / 1e6);
}

zem::Element free_space_row(std::size_t i, std::size_t j, std::uint64_t start, std::uint64_t size,
                            const RowMetrics& m) {
    const zem::Palette pal = zem::theme::palette();
    std::vector<zem::Element> cells;
    cells.push_back(texts_block(parts::text(i18n::translate("disk.free_space"), m.label, pal.text_primary),
                                parts::text(format_size(size), m.size, pal.text_secondary)));
    cells.push_back(icon_button("actions/add", m.button, Msg::OpenCreate{i, start, size}, i18n::translate("disk.add_title")));
    return pressable(row_of_children(std::move(cells)), Msg::SelectPartition{i, j});
}

zem::Element selection_highlight(zem::Element element, bool highlighted) {
    if (!highlighted) return element;
    zem::Color accent = zem::theme::palette().accent;
    accent.a = 0.18f;
    zem::Container c{std::move(element)};
    c.fill = zem::Paint{accent};
    c.radii = {};
    c.insets(zem::Length::px(0));
    c.opacity = 1.0f;
    return c;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> staged_creates_in(const std::vector<StagedDiskOp>& ops,
                                                                       const std::string& disk, std::uint64_t start,
                                                                       std::uint64_t end) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    for (const StagedDiskOp& op : ops)
        if (auto* c = std::get_if<StagedDiskOp::Create>(&op.kind);
            c && install::same_path(c->disk, disk) && c->start >= start && sat_add(c->start, c->size) <= end)
            out.emplace_back(c->start, c->size);
    return out;
}

zem::Element disk_page(const InstallerApp& app) {
    const RowMetrics m = row_metrics(app.layout_size);
    zem::Column page;
    page.spacing = zem::Length::px(24);
    page.padding = zem::Length::px(24);
    page.children.push_back(page_header(Page::Disk, 0, true, app.configure));
    page.children.push_back(page_title(i18n::translate("disk.title"), i18n::translate("disk.subtitle")));

    zem::Column list;
    list.spacing = zem::Length::px(16);
    list.padding = zem::Length::px(16);
    for (std::size_t i = 0; i < app.disk_rows.size(); ++i) list.children.push_back(disk_card(app, i, m));
    page.children.push_back(parts::scroll(std::move(list)));

    zem::Row actions;
    actions.spacing = zem::Length::px(16);
    actions.padding = zem::Length::px(0);
    actions.children.push_back(zem::Spacer{});
    if (!app.staged_ops.empty()) {
        actions.children.push_back(text_button(i18n::translate("disk.discard"), Msg::DiscardOps{}, zem::ButtonStyle::Plain));
        actions.children.push_back(text_button(i18n::translate("disk.apply"), Msg::AskApply{}, zem::ButtonStyle::Filled));
    } else {
        std::optional<Msg> next;
        if (!is_none(app.target)) next = Msg::AskInstall{};
        actions.children.push_back(
            text_button(i18n::translate("common.continue"), std::move(next), zem::ButtonStyle::Filled));
    }
    page.children.push_back(std::move(actions));

    zem::Element root = page_background(std::move(page));
    auto overlay = disk_overlay(app);
    if (!overlay) return root;
    zem::Stack stack;
    stack.push(std::move(root), zem::Align::Stretch, zem::Align::Stretch, 0.0f);
    stack.push(std::move(*overlay), zem::Align::Stretch, zem::Align::Stretch, 0.0f);
    return stack;
}

} // namespace app
