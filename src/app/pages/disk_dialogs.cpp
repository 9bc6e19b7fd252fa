// What covers the disk page: the busy overlay while a batch is applied, or
// one modal dialog. Only the first that applies is built.

#include "app/pages/disk_page.hpp"
#include "app/pages/page_parts.hpp"

#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

#include <zem/widgets/dialog.hpp>
#include <zem/widgets/slider.hpp>
#include <zem/widgets/spinner.hpp>

#include <chrono>

namespace app {

namespace {

zem::Element dialog_button(const std::string& label, Msg m, zem::ButtonStyle style) {
    zem::Button b;
    b.content = label;
    b.on_press = send(std::move(m));
    b.font_size = control_font();
    b.height = control_height();
    b.style = style;
    return b;
}

zem::Column content_column(float spacing, float padding) {
    zem::Column col;
    col.spacing = zem::Length::px(spacing);
    col.padding = zem::Length::px(padding);
    return col;
}

zem::Dialog modal(std::optional<std::string> title, std::optional<std::string> subtitle,
                  std::optional<Msg> dismiss) {
    zem::Dialog d;
    d.modal = true;
    d.max_width = zem::Length::responsive(480);
    d.title = std::move(title);
    d.subtitle = std::move(subtitle);
    if (dismiss) d.on_escape = send(std::move(*dismiss));
    return d;
}

// Cancel (plain) then accept (filled), the way every two-button dialog ends.
void two_buttons(zem::Dialog& d, const std::string& no, Msg no_msg, const std::string& yes, Msg yes_msg) {
    d.actions.push_back(dialog_button(no, std::move(no_msg), zem::ButtonStyle::Plain));
    d.actions.push_back(dialog_button(yes, std::move(yes_msg), zem::ButtonStyle::Filled));
}

zem::Slider size_slider(std::uint64_t size, std::uint64_t max, bool resize) {
    zem::Slider s;
    s.track_surface = "surface-slider-track";
    s.fill_surface = "surface-slider-fill";
    s.value = max == 0 ? 0.0f : std::min(static_cast<float>(static_cast<double>(size) / static_cast<double>(max)), 1.0f);
    if (resize)
        s.on_change = zem::value_callback([](float f) { return std::optional<zem::Message>(Msg{Msg::ResizeSlider{f}}); });
    else
        s.on_change = zem::value_callback([](float f) { return std::optional<zem::Message>(Msg{Msg::CreateSlider{f}}); });
    return s;
}

float seconds_since_first_use() {
    static const auto started = std::chrono::steady_clock::now();
    const auto d = std::chrono::steady_clock::now() - started;
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(d);
    return static_cast<float>(s.count()) +
           static_cast<float>(std::chrono::duration_cast<std::chrono::nanoseconds>(d - s).count()) / 1e9f;
}

zem::Element busy_overlay() {
    const zem::Palette pal = zem::theme::palette();
    zem::Spinner sp;
    sp.color = zem::accent_ring_style().color;
    sp.size = 48;
    sp.stroke = 4;
    sp.phase = seconds_since_first_use();
    zem::Column col = content_column(16, 16);
    col.children.push_back(sp);
    zem::Text t = parts::text(i18n::translate("disk.applying"), 15, pal.text_primary, false);
    t.align = zem::TextAlign::Center;
    col.children.push_back(std::move(t));
    zem::Dialog d = modal(std::nullopt, std::nullopt, std::nullopt);
    d.content_column(std::move(col));
    return std::move(d).into_element();
}

zem::Element error_dialog(const std::string& error) {
    zem::Dialog d = modal(i18n::translate("disk.error_title"), error, Msg::DismissError{});
    d.actions.push_back(dialog_button(i18n::translate("disk.error_dismiss"), Msg::DismissError{}, zem::ButtonStyle::Filled));
    return std::move(d).into_element();
}

zem::Element install_confirmation(const InstallerApp& app) {
    zem::Dialog d = modal(i18n::translate_with("disk.install_confirm_title", {{"target", target_text(app.target, app.disk_rows)}}),
                          i18n::translate("disk.install_confirm_subtitle"), Msg::CancelInstallConfirm{});
    two_buttons(d, i18n::translate("disk.dialog_cancel"), Msg::CancelInstallConfirm{}, i18n::translate("disk.dialog_accept"),
                Msg::ConfirmInstall{});
    return std::move(d).into_element();
}

zem::Element apply_confirmation(const InstallerApp& app) {
    const zem::Palette pal = zem::theme::palette();
    zem::Dialog d = modal(i18n::translate("disk.confirm_title"), i18n::translate("disk.confirm_subtitle"), Msg::CancelApply{});
    zem::Column col = content_column(4, 16);
    for (const StagedDiskOp& op : app.staged_ops)
        col.children.push_back(parts::text(staged_op_text(op, app.disk_rows), 12, pal.text_primary, true));
    d.content_column(std::move(col));
    two_buttons(d, i18n::translate("disk.confirm_no"), Msg::CancelApply{}, i18n::translate("disk.confirm_yes"),
                Msg::ConfirmApply{});
    return std::move(d).into_element();
}

zem::Element resize_dialog(const ResizeDialog& r) {
    const zem::Palette pal = zem::theme::palette();
    zem::Dialog d = modal(i18n::translate("disk.resize_title"), i18n::translate("disk.resize_subtitle"), Msg::CancelResize{});
    zem::Column col = content_column(16, 16);
    if (r.unknown_fs)
        col.children.push_back(parts::text(i18n::translate("disk.resize_unknown_fs_warning"), 12, pal.danger, true));
    col.children.push_back(size_slider(r.size, r.max, true));
    col.children.push_back(parts::text(i18n::translate_with("disk.resize_summary", {{"size", format_size(r.size)},
                                                                                    {"min", format_size(r.min)},
                                                                                    {"max", format_size(r.max)}}),
                                       15, pal.text_primary, false));
    std::string change;
    if (r.size < r.current) change = i18n::translate_with("disk.resize_freed", {{"size", format_size(r.current - r.size)}});
    else if (r.size > r.current) change = i18n::translate_with("disk.resize_added", {{"size", format_size(r.size - r.current)}});
    col.children.push_back(parts::text(std::move(change), 12, pal.text_secondary, false));
    d.content_column(std::move(col));
    two_buttons(d, i18n::translate("disk.dialog_cancel"), Msg::CancelResize{}, i18n::translate("disk.dialog_accept"),
                Msg::ApplyResize{});
    return std::move(d).into_element();
}

} // namespace

zem::Element add_partition_dialog(const CreateDialog& c) {
    const zem::Palette pal = zem::theme::palette();
    zem::Dialog d = modal(i18n::translate("disk.add_title"), i18n::translate("disk.add_subtitle"), Msg::CancelCreate{});
    zem::Column col = content_column(16, 16);
    col.children.push_back(size_slider(c.size, c.max, false));
    col.children.push_back(parts::text(i18n::translate_with("disk.add_summary", {{"size", format_size(c.size)},
                                                                                {"min", format_size(c.min)},
                                                                                {"max", format_size(c.max)}}),
                                       15, pal.text_primary, false));
    d.content_column(std::move(col));
    two_buttons(d, i18n::translate("disk.dialog_cancel"), Msg::CancelCreate{}, i18n::translate("disk.dialog_accept"),
                Msg::ApplyCreate{});
    return std::move(d).into_element();
}

std::optional<zem::Element> disk_overlay(const InstallerApp& app) {
    if (app.apply_pending) return busy_overlay();
    if (app.error) return error_dialog(*app.error);
    if (app.install_confirm_open) return install_confirmation(app);
    if (app.apply_confirm_open) return apply_confirmation(app);
    if (app.resize_dialog) return resize_dialog(*app.resize_dialog);
    if (app.create_dialog) return add_partition_dialog(*app.create_dialog);
    return std::nullopt;
}

std::string target_text(const TargetSelection& t, const std::vector<DiskRow>& rows) {
    const std::string none = "\u2014";
    const std::string* path = nullptr;
    if (auto* w = std::get_if<TargetSelection::WholeDisk>(&t.kind)) path = &w->disk;
    else if (auto* p = std::get_if<TargetSelection::Partition>(&t.kind)) path = &p->disk;
    else if (auto* f = std::get_if<TargetSelection::FreeSpace>(&t.kind)) path = &f->disk;
    if (path == nullptr) return none;
    auto d = disk_editor::row_of(rows, *path);
    if (!d) return none;
    const DiskRow& row = rows[*d];
    if (std::holds_alternative<TargetSelection::WholeDisk>(t.kind)) return row.label;
    for (const PartitionRow& p : row.partitions) {
        if (auto* part = std::get_if<TargetSelection::Partition>(&t.kind); part && !p.free && p.number == part->number)
            return row.label + " \u2014 " + p.label;
        if (auto* gap = std::get_if<TargetSelection::FreeSpace>(&t.kind); gap && p.free && p.start == gap->start)
            return row.label + " \u2014 " + p.label;
    }
    return none;
}

std::string staged_op_text(const StagedDiskOp& op, const std::vector<DiskRow>& rows) {
    // A disk that is no longer listed is named by its device path.
    auto d = disk_editor::row_of(rows, op.disk());
    const std::string disk = d ? rows[*d].label : op.disk();
    if (std::holds_alternative<StagedDiskOp::Wipe>(op.kind)) return i18n::translate_with("disk.op_wipe", {{"disk", disk}});
    if (auto* del = std::get_if<StagedDiskOp::Delete>(&op.kind))
        return i18n::translate_with("disk.op_delete", {{"num", std::to_string(del->number)}, {"disk", disk}});
    if (auto* r = std::get_if<StagedDiskOp::Resize>(&op.kind))
        return i18n::translate_with("disk.op_resize", {{"num", std::to_string(r->number)},
                                                       {"disk", disk},
                                                       {"size", format_size(r->new_size)}});
    const auto& c = std::get<StagedDiskOp::Create>(op.kind);
    return i18n::translate_with("disk.op_create", {{"disk", disk}, {"size", format_size(c.size)}});
}

} // namespace app
