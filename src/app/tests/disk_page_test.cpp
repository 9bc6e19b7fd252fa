// The disk page's tree and its overlays, read the way a user reads them:
// texts, which controls are live, and what they send.

#include "app_fixture.hpp"
#include "app/pages/disk_page.hpp"
#include "support/view_probe.hpp"

#include <zem/widgets/slider.hpp>

#include <functional>

namespace {

using app::Msg;
using app::StagedDiskOp;
using support::icon_messages;
using support::all;
using support::message_of;
using support::walk;
using support::shows;

constexpr std::uint64_t M = 1ull << 20;
constexpr std::uint64_t G = 1ull << 30;

std::vector<float> slider_values(const zem::Element& root) {
    std::vector<float> out;
    walk(root, [&](const zem::Element& e) {
        if (auto* s = e.as<zem::Slider>()) out.push_back(s->value);
    });
    return out;
}

std::vector<zem::Color> colours_of(const zem::Element& root, const std::string& text) {
    std::vector<zem::Color> out;
    walk(root, [&](const zem::Element& e) {
        if (auto* t = e.as<zem::Text>(); t && t->text == text) out.push_back(t->color);
    });
    return out;
}

class DiskPage : public apptest::WizardTest {
protected:
    static void SetUpTestSuite() { apptest::use_default_theme(); }

    // sda: an ext4 partition of 2 GB and a 10 GiB gap at 1 GiB + 1 MiB.
    app::InstallerApp page() {
        auto a = make();
        fx->disks = {support::make_disk("/dev/sda", 64 * G,
                                        {{"/dev/sda1", std::nullopt, "ext4", 1 * M, 2'000'000'000, 1, false, false},
                                         {"/dev/sda", std::nullopt, std::nullopt, 1 * G + M, 10 * G, 0, true, false},
                                         {"/dev/sda2", std::nullopt, "xfs", 11 * G + M, 1 * G, 2, false, false}})};
        a.disk_rows = app::disk_rows(fx->disks);
        a.set_page(app::Page::Disk);
        return a;
    }
};

TEST_F(DiskPage, SizesAndMetrics) {
    const std::vector<std::pair<std::uint64_t, std::string>> sizes = {
        {999'999'999, "1000 MB"}, {1'000'000'000, "1.0 GB"}, {0, "0 MB"}, {1'048'576, "1 MB"},
        {1'500'000'000, "1.5 GB"}, {18446744073709551615ull, "18446744073.7 GB"},
    };
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(app::format_size(bytes), text) << bytes;

    struct Row {
        std::uint32_t h;
        std::uint32_t icon, button;
        float label, size;
    };
    const std::vector<Row> rows = {
        {800, 24, 16, 13.2f, 8.4f}, {320, 14, 10, 7.7f, 4.9f}, {200, 14, 10, 7.7f, 4.9f}, {1000, 30, 20, 16.5f, 10.5f},
    };
    for (const Row& r : rows) {
        const app::RowMetrics m = app::row_metrics({1280, r.h});
        EXPECT_EQ(m.icon, r.icon) << r.h;
        EXPECT_EQ(m.button, r.button) << r.h;
        EXPECT_FLOAT_EQ(m.label, r.label) << r.h;
        EXPECT_FLOAT_EQ(m.size, r.size) << r.h;
    }
}

TEST_F(DiskPage, ContinueWaitsForATargetAndStagedWorkReplacesIt) {
    auto a = page();
    const std::string cont = i18n::translate("common.continue");
    EXPECT_TRUE(support::has_control(a.view(), cont));
    EXPECT_FALSE(message_of(a.view(), cont));
    a.update(*message_of(a.view(), a.disk_rows[0].label));
    ASSERT_TRUE(message_of(a.view(), cont));
    EXPECT_TRUE(message_of(a.view(), cont)->is<Msg::AskInstall>());

    // Rows: the partition offers resize and delete, the gap add, xfs only delete.
    const auto icons = icon_messages(a.view());
    ASSERT_EQ(icons.size(), 4u);
    EXPECT_TRUE(icons[0].is<Msg::OpenResize>());
    EXPECT_TRUE(icons[1].is<Msg::StageDelete>());
    ASSERT_TRUE(icons[2].is<Msg::OpenCreate>());
    EXPECT_EQ(icons[2].get<Msg::OpenCreate>()->size, 10 * G);
    EXPECT_TRUE(icons[3].is<Msg::StageDelete>());

    a.update(icons[3]);
    EXPECT_FALSE(support::has_control(a.view(), cont));
    EXPECT_TRUE(message_of(a.view(), i18n::translate("disk.discard"))->is<Msg::DiscardOps>());
    EXPECT_TRUE(message_of(a.view(), i18n::translate("disk.apply"))->is<Msg::AskApply>());
}

// The row buttons show only an icon: their tooltips name what they do, and
// screen readers read them as the buttons' names.
TEST_F(DiskPage, IconButtonsSayWhatTheyDo) {
    auto a = page();
    std::vector<std::string> names;
    walk(a.view(), [&](const zem::Element& e) {
        if (auto* b = e.as<zem::Button>(); b && b->icon()) names.push_back(b->tooltip.value_or(""));
    });
    const std::string disk = a.disk_rows[0].label;
    EXPECT_EQ(names, (std::vector<std::string>{
                         i18n::translate("disk.resize_title"),
                         i18n::translate_with("disk.op_delete", {{"num", "1"}, {"disk", disk}}),
                         i18n::translate("disk.add_title"),
                         i18n::translate_with("disk.op_delete", {{"num", "2"}, {"disk", disk}}),
                     }));
}

TEST_F(DiskPage, StagedWorkShowsOnTheRows) {
    auto a = page();
    const zem::Palette pal = zem::theme::palette();
    a.staged_ops = {{StagedDiskOp::Resize{"/dev/sda", 1, 3'000'000'000, 1 * M, 2'000'000'000}},
                    {StagedDiskOp::Delete{"/dev/sda", 2, 11 * G + M, 1 * G}},
                    // Two new partitions staged in reverse disk order, 512 KiB apart.
                    {StagedDiskOp::Create{"/dev/sda", 1 * G + M + 3 * G + M / 2, 2 * G}},
                    {StagedDiskOp::Create{"/dev/sda", 1 * G + M, 3 * G}},
                    // Reaches beyond the gap: not shown in it.
                    {StagedDiskOp::Create{"/dev/sda", 10 * G, 2 * G}}};
    const auto view = a.view();
    EXPECT_TRUE(shows(view, "2.0 GB \u2192 3.0 GB"));
    const std::vector<std::string> all = support::texts(view);
    const std::string fresh = i18n::translate("disk.partition_new");
    std::vector<std::string> gap_rows;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i] == fresh || all[i] == i18n::translate("disk.free_space")) gap_rows.push_back(all[i] + " " + all[i + 1]);
    EXPECT_EQ(gap_rows, (std::vector<std::string>{fresh + " 3.2 GB", fresh + " 2.1 GB",
                                                  i18n::translate("disk.free_space") + " 5.4 GB"}));
    // The rest of the gap offers exactly the rest.
    const auto icons = icon_messages(view);
    const auto* add = icons[2].get<Msg::OpenCreate>();
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->start, 1 * G + M + 5 * G + M / 2);
    EXPECT_EQ(add->size, 10 * G - 5 * G - M / 2);

    // Deleted partitions are dimmed; others are not.
    auto dim = pal.text_primary;
    dim.a *= 0.55f;
    EXPECT_EQ(colours_of(view, a.disk_rows[0].partitions[2].label), std::vector<zem::Color>{dim});
    EXPECT_EQ(colours_of(view, a.disk_rows[0].partitions[0].label), std::vector<zem::Color>{pal.text_primary});
}

TEST_F(DiskPage, OneOverlayAtATime) {
    auto a = page();
    const std::string busy = i18n::translate("disk.applying");
    const std::string err_title = i18n::translate("disk.error_title");
    const std::string resize_title = i18n::translate("disk.resize_title");
    a.update(Msg::OpenResize{0, 0});
    a.error = "it broke";
    a.apply_pending = true;
    EXPECT_TRUE(shows(a.view(), busy));
    EXPECT_FALSE(shows(a.view(), err_title));
    EXPECT_FALSE(support::has_control(a.view(), i18n::translate("disk.error_dismiss")));
    a.apply_pending = false;
    EXPECT_TRUE(shows(a.view(), err_title));
    EXPECT_TRUE(shows(a.view(), "it broke"));
    EXPECT_FALSE(shows(a.view(), resize_title));
    a.update(*message_of(a.view(), i18n::translate("disk.error_dismiss")));
    EXPECT_TRUE(shows(a.view(), resize_title));
    a.update(*message_of(a.view(), i18n::translate("disk.dialog_cancel")));
    EXPECT_FALSE(a.resize_dialog);
    EXPECT_FALSE(app::disk_overlay(a));
}

TEST_F(DiskPage, InstallConfirmationNamesTheTarget) {
    auto a = page();
    using T = app::TargetSelection;
    const std::string disk = a.disk_rows[0].label;
    const std::string dash = " \u2014 ";
    const std::vector<std::pair<T, std::string>> rows = {
        {{T::WholeDisk{"/dev/sda/"}}, disk},
        {{T::Partition{1, "/dev/sda"}}, disk + dash + a.disk_rows[0].partitions[0].label},
        {{T::FreeSpace{1 * G + M, "/dev/sda"}}, disk + dash + i18n::translate("disk.free_space")},
        {{T::Partition{9, "/dev/sda"}}, "\u2014"},
        {{T::WholeDisk{"/dev/sdz"}}, "\u2014"},
        {{}, "\u2014"},
    };
    for (const auto& [target, text] : rows) EXPECT_EQ(app::target_text(target, a.disk_rows), text);

    a.update(Msg::SelectPartition{0, 0});
    a.update(*message_of(a.view(), i18n::translate("common.continue")));
    EXPECT_TRUE(shows(a.view(), i18n::translate_with("disk.install_confirm_title", {{"target", rows[1].second}})));
    a.update(*message_of(a.view(), i18n::translate("disk.dialog_cancel")));
    EXPECT_FALSE(a.install_confirm_open);
}

TEST_F(DiskPage, ApplyConfirmationListsTheOperations) {
    auto a = page();
    a.staged_ops = {{StagedDiskOp::Wipe{"/dev/sda"}},
                    {StagedDiskOp::Delete{"/dev/sda", 2, 11 * G + M, 1 * G}},
                    {StagedDiskOp::Create{"/dev/sdq", 1 * M, 4'000'000'000}}};
    a.update(*message_of(a.view(), i18n::translate("disk.apply")));
    const std::string disk = a.disk_rows[0].label;
    const auto view = a.view();
    EXPECT_TRUE(shows(view, i18n::translate_with("disk.op_wipe", {{"disk", disk}})));
    EXPECT_TRUE(shows(view, i18n::translate_with("disk.op_delete", {{"num", "2"}, {"disk", disk}})));
    // A disk no longer listed is named by its path.
    EXPECT_TRUE(shows(view, i18n::translate_with("disk.op_create", {{"disk", "/dev/sdq"}, {"size", "4.0 GB"}})));
    a.update(*message_of(view, i18n::translate("disk.confirm_yes")));
    EXPECT_TRUE(a.apply_pending);
    EXPECT_TRUE(shows(a.view(), i18n::translate("disk.applying")));
}

TEST_F(DiskPage, SizingDialogs) {
    auto a = page();
    a.resize_dialog = app::ResizeDialog{"/dev/sda", 1, M, M, 20 * G, 8'000'000'000, 10'000'000'000, false};
    auto view = a.view();
    EXPECT_TRUE(shows(view, i18n::translate_with("disk.resize_freed", {{"size", "2.0 GB"}})));
    EXPECT_FALSE(shows(view, i18n::translate("disk.resize_unknown_fs_warning")));
    a.resize_dialog->size = a.resize_dialog->current;
    a.resize_dialog->unknown_fs = true;
    view = a.view();
    EXPECT_FALSE(shows(view, i18n::translate_with("disk.resize_freed", {{"size", "0 MB"}})));
    EXPECT_FALSE(shows(view, i18n::translate_with("disk.resize_added", {{"size", "0 MB"}})));
    EXPECT_TRUE(shows(view, i18n::translate("disk.resize_unknown_fs_warning")));

    // A slider never shows past its end, nor divides by nothing.
    a.resize_dialog->size = 30 * G;
    EXPECT_EQ(slider_values(a.view()), std::vector<float>{1.0f});
    a.resize_dialog.reset();
    a.create_dialog = app::CreateDialog{"/dev/sda", 1 * G + M, M, 0, 0};
    EXPECT_EQ(slider_values(a.view()), std::vector<float>{0.0f});
    EXPECT_TRUE(shows(a.view(), i18n::translate_with("disk.add_summary", {{"size", "0 MB"}, {"min", "1 MB"}, {"max", "0 MB"}})));
}

} // namespace
