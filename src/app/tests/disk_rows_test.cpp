// Disk rows: labels, icons, the room each partition may grow into, and
// whether a chosen target survives a rebuild.

#include "app_fixture.hpp"

namespace {

using app::DiskIcon;
using disks::DeviceKind;

class DiskRows : public apptest::WizardTest {};

TEST_F(DiskRows, LabelsAndIcons) {
    struct Row {
        DeviceKind kind;
        std::string model;
        bool removable;
        std::string label;
        DiskIcon icon;
    };
    const std::vector<Row> rows = {
        {DeviceKind::SATA, "  Samsung SSD \t", false, "SATA Samsung SSD", DiskIcon::HardDisk},
        {DeviceKind::SATA, "   ", false, "SATA (/dev/x)", DiskIcon::HardDisk},
        {DeviceKind::SATA, "", true, "SATA (/dev/x)", DiskIcon::HardDrive},
        {DeviceKind::Other, "", false, "/dev/x", DiskIcon::HardDisk},
        {DeviceKind::MMC, "", false, "SD/MMC (/dev/x)", DiskIcon::Chip},
        {DeviceKind::MMC, "SD32G", true, "SD/MMC SD32G", DiskIcon::SdCard},
        {DeviceKind::NVMe, "", false, "NVMe (/dev/x)", DiskIcon::Chip},
        {DeviceKind::USB, "Stick", true, "USB Stick", DiskIcon::Usb},
        {DeviceKind::Virtio, "", true, "VirtIO (/dev/x)", DiskIcon::HardDisk},
        {DeviceKind::DM, "", true, "Device Mapper (/dev/x)", DiskIcon::HardDrive},
    };
    for (const Row& r : rows) {
        disks::Disk d = support::make_disk("/dev/x", 1 << 30);
        d.kind = r.kind;
        d.label = r.model;
        d.removable = r.removable;
        EXPECT_EQ(app::disk_label(d), r.label);
        EXPECT_EQ(app::disk_icon(d), r.icon) << r.label;
    }
}

TEST_F(DiskRows, PartitionsGrowOverFollowingGapsOnly) {
    const std::uint64_t M = 1 << 20;
    disks::Disk d = support::make_disk("/dev/x", 100 * M,
                                       {{"/dev/x1", std::nullopt, "ext4", 1 * M, 10 * M, 1, false, false},
                                        {"/dev/x2", std::nullopt, std::nullopt, 11 * M, 20 * M, 2, false, false},
                                        {"/dev/x", std::nullopt, std::nullopt, 31 * M, 30 * M, 0, true, false},
                                        {"/dev/x3", std::nullopt, "swap", 61 * M, 9 * M, 3, false, false},
                                        {"/dev/x", std::nullopt, std::nullopt, 70 * M, 30 * M, 0, true, false}});
    auto rows = app::disk_rows({d});
    ASSERT_EQ(rows.size(), 1u);
    const auto& p = rows[0].partitions;
    EXPECT_EQ(p[0].max_size, 10 * M); // touches the next partition
    EXPECT_EQ(p[1].max_size, 50 * M); // over the gap up to x3
    EXPECT_EQ(p[3].max_size, 39 * M); // to the end of the disk
    EXPECT_EQ(p[0].label, "Partition 1 (ext4)");
    EXPECT_EQ(p[1].label, i18n::translate_with("disk.partition", {{"num", "2"}}));
    EXPECT_EQ(p[2].label, i18n::translate("disk.free_space"));

    using T = app::TargetSelection;
    EXPECT_TRUE(app::selection_still_present({T::WholeDisk{"/dev//x/"}}, rows));
    EXPECT_TRUE(app::selection_still_present({T::Partition{3, "/dev/x"}}, rows));
    EXPECT_FALSE(app::selection_still_present({T::Partition{4, "/dev/x"}}, rows));
    EXPECT_TRUE(app::selection_still_present({T::FreeSpace{31 * M, "/dev/x"}}, rows));
    EXPECT_FALSE(app::selection_still_present({T::FreeSpace{1 * M, "/dev/x"}}, rows)); // a partition, not a gap
    EXPECT_FALSE(app::selection_still_present({T::WholeDisk{"/dev/y"}}, rows));
    EXPECT_FALSE(app::selection_still_present({}, rows));
}

} // namespace
