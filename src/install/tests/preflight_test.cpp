// The plan check over a made-up wizard state; the running root's disk comes
// from a fake /proc and /sys, the used space from the real df.

#include <base/units.hpp>
#include "i18n/translate.hpp"
#include "install/preflight.hpp"
#include "platform/system_paths.hpp"
#include "support/loop_disk.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using install::DiskRow;
using install::PartitionRow;
using install::TargetSelection;
using install::WizardChoices;
namespace stdfs = std::filesystem;

namespace {

using base::MIB;
constexpr std::uint64_t GIB = 1 << 30;

// The running root is /dev/sda2, a partition of /dev/sda.
class LiveOnSda : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::paths();
        platform::SystemPaths p;
        p.proc = dir_.path() + "/proc";
        p.sys = dir_.path() + "/sys";
        stdfs::create_directories(p.proc + "/self");
        std::ofstream(p.proc + "/self/mounts") << "sysfs /sys sysfs rw 0 0\n/dev/sda2 / ext4 rw,relatime 0 0\n";
        stdfs::create_directories(p.sys + "/block/sda/sda2");
        std::ofstream(p.sys + "/block/sda/sda2/partition") << "2\n";
        stdfs::create_directories(p.sys + "/class/block");
        stdfs::create_directory_symlink(p.sys + "/block/sda/sda2", p.sys + "/class/block/sda2");
        platform::set_paths(p);
        i18n::set_locale("en");
    }
    void TearDown() override {
        platform::set_paths(saved_);
        i18n::set_locale("en");
    }
    support::TempDir dir_;
    platform::SystemPaths saved_;
};

WizardChoices choose(TargetSelection t, std::vector<DiskRow> disks = {}) {
    WizardChoices s;
    s.target = std::move(t);
    s.disks = std::move(disks);
    s.language = "de";
    return s;
}

std::string en(std::string_view key) { return std::string(*i18n::try_translate("en", key)); }

// The one-decimal GB form of the refusal's numbers.
std::string gb(std::uint64_t v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", double(v) / 1e9);
    return buf;
}

} // namespace

TEST_F(LiveOnSda, NothingSelected) {
    auto r = install::preflight(choose({TargetSelection::None{}}));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), en("error.no_target"));
}

TEST_F(LiveOnSda, TheRunningDiskIsRefusedUnlessTesting) {
    for (const std::string disk : {"/dev/sda", "/dev/sda/", "/dev//sda"}) {
        auto r = install::preflight(choose({TargetSelection::WholeDisk{disk}}));
        ASSERT_FALSE(r) << disk;
        EXPECT_EQ(r.error(), i18n::fill_placeholders(en("error.target_is_live"), {"disk"}, {disk}));
    }
    auto s = choose({TargetSelection::WholeDisk{"/dev/sda"}});
    s.test = true;
    auto r = install::preflight(s);
    ASSERT_TRUE(r) << r.error();
    EXPECT_TRUE(r->test);
    EXPECT_EQ(r->disk, "/dev/sda");
    EXPECT_EQ(r->mode, ipc::TargetMode(ipc::TargetMode::WholeDisk{}));
    EXPECT_EQ(r->locale, "de");
    EXPECT_FALSE(r->account);
}

TEST_F(LiveOnSda, RefusalsFollowTheCurrentLanguage) {
    i18n::set_locale("de-AT");
    auto r = install::preflight(choose({TargetSelection::WholeDisk{"/dev/sda"}}));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), i18n::fill_placeholders(std::string(*i18n::try_translate("de", "error.target_is_live")),
                                                 {"disk"}, {"/dev/sda"}));
    EXPECT_NE(r.error(), i18n::fill_placeholders(en("error.target_is_live"), {"disk"}, {"/dev/sda"}));
}

TEST_F(LiveOnSda, FreeSpaceMustStillBeListed) {
    DiskRow row{"/dev/sdb", "gpt", 100 * GIB, {{MIB, 10 * GIB, 1, false, false}, {10 * GIB + MIB, 80 * GIB, 0, true, false}}};
    auto gone = install::preflight(choose({TargetSelection::FreeSpace{5 * GIB, "/dev/sdb"}}, {row}));
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error(), en("error.free_space_gone"));
    auto other_disk = install::preflight(choose({TargetSelection::FreeSpace{10 * GIB + MIB, "/dev/sdc"}}, {row}));
    ASSERT_FALSE(other_disk);
    EXPECT_EQ(other_disk.error(), en("error.free_space_gone"));
    // A partition's start is not a gap.
    auto partition = install::preflight(choose({TargetSelection::FreeSpace{MIB, "/dev/sdb"}}, {row}));
    ASSERT_FALSE(partition);

    auto s = choose({TargetSelection::FreeSpace{10 * GIB + MIB, "/dev/sdb/"}}, {row});
    s.account = {"ann", "box", "pw", "pw"};
    // A running system of a few GiB: how full this machine's own disk is
    // must not decide whether an 80 GiB gap is accepted.
    auto r = install::preflight(s, 4 * GIB);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->mode, ipc::TargetMode(ipc::TargetMode::FreeSpace{10 * GIB + MIB, 80 * GIB}));
    ASSERT_TRUE(r->account);
    EXPECT_EQ(r->account->username, "ann");
    EXPECT_EQ(r->account->password, "pw");
}

// Encryption on MBR needs free primary slots, except inside the container.
TEST_F(LiveOnSda, MbrSlotsForEncryption) {
    const std::uint64_t big = 500 * GIB;
    DiskRow four{"/dev/sdb", "msdos", 2000 * GIB,
                 {{MIB, big, 1, false, false}, {big + MIB, big, 2, false, false},
                  {2 * big + MIB, big, 3, false, false}, {3 * big + MIB, big - 2 * MIB, 4, false, false}}};
    // two primaries, an extended partition holding logical 5 and a gap
    DiskRow three{"/dev/sdc", "msdos", 2000 * GIB,
                  {{MIB, big, 1, false, false},
                   {big + MIB, big, 2, false, false},
                   {2 * big + 2 * MIB, big, 5, false, true},
                   {3 * big + 2 * MIB, 100 * GIB, 0, true, true},
                   {3 * big + 200 * GIB, 100 * GIB, 0, true, false}}};
    DiskRow gpt = four;
    gpt.path = "/dev/sdd";
    gpt.table = "gpt";
    struct Case {
        std::string name;
        TargetSelection target;
        bool encrypt;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"four primaries, one chosen", {TargetSelection::Partition{2, "/dev/sdb"}}, true, true},
        {"four primaries, no encryption", {TargetSelection::Partition{2, "/dev/sdb"}}, false, false},
        {"four primaries, whole disk", {TargetSelection::WholeDisk{"/dev/sdb"}}, true, false},
        {"count three, partition", {TargetSelection::Partition{1, "/dev/sdc"}}, true, false},
        {"count three, gap outside the container", {TargetSelection::FreeSpace{3 * big + 200 * GIB, "/dev/sdc"}}, true, true},
        {"gap inside the container", {TargetSelection::FreeSpace{3 * big + 2 * MIB, "/dev/sdc"}}, true, false},
        {"logical partition", {TargetSelection::Partition{5, "/dev/sdc"}}, true, false},
        {"GPT never counts slots", {TargetSelection::Partition{2, "/dev/sdd"}}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = choose(c.target, {four, three, gpt});
        s.encrypt = c.encrypt;
        s.test = true;
        auto r = install::preflight(s);
        if (c.refused) {
            ASSERT_FALSE(r);
            std::string disk = std::visit(
                [](const auto& t) -> std::string {
                    if constexpr (requires { t.disk; }) return t.disk;
                    return {};
                },
                c.target.kind);
            EXPECT_EQ(r.error(), i18n::fill_placeholders(en("error.mbr_full"), {"disk"}, {disk}));
        } else {
            EXPECT_TRUE(r) << r.error();
        }
    }
}

// The size rule at its edges, for a system using 7 GB.
TEST_F(LiveOnSda, TargetSizeEdges) {
    const std::uint64_t used = 7'000'000'123;
    const std::uint64_t need = used + used / 10 + install::NEED_EXTRA; // 8.77 GB
    const std::uint64_t exact = install::WHOLE_DISK_RESERVE + need;
    const std::uint64_t enc = install::ENCRYPTION_RESERVE;
    struct Case {
        std::string name;
        TargetSelection target;
        std::uint64_t disk_size;
        bool encrypt;
        std::optional<std::uint64_t> have; // refused, showing this much available
    };
    DiskRow parts{"/dev/sdc", "gpt", 1000 * GIB, {{MIB, need, 1, false, false}, {need + MIB, need - 1, 2, false, false},
                                                  {2 * need + MIB, need + enc, 0, true, false}}};
    const std::vector<Case> cases = {
        {"exactly enough", {TargetSelection::WholeDisk{"/dev/sdb"}}, exact, false, std::nullopt},
        {"one byte short", {TargetSelection::WholeDisk{"/dev/sdb"}}, exact - 1, false, need - 1},
        {"encryption needs 800 MiB more", {TargetSelection::WholeDisk{"/dev/sdb"}}, exact, true, need - enc},
        {"encrypted, exactly enough", {TargetSelection::WholeDisk{"/dev/sdb"}}, exact + enc, true, std::nullopt},
        {"smaller than the reserve", {TargetSelection::WholeDisk{"/dev/sdb"}}, 100 * MIB, false, 0},
        {"encrypted below the reserves", {TargetSelection::WholeDisk{"/dev/sdb"}}, exact - need + 5, true, 0},
        {"partition of exactly the need", {TargetSelection::Partition{1, "/dev/sdc"}}, 0, false, std::nullopt},
        {"partition one byte short", {TargetSelection::Partition{2, "/dev/sdc"}}, 0, false, need - 1},
        {"partition not listed: no size check", {TargetSelection::Partition{7, "/dev/sdc"}}, 0, false, std::nullopt},
        {"gap with room for /boot", {TargetSelection::FreeSpace{2 * need + MIB, "/dev/sdc"}}, 0, true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = choose(c.target, {{"/dev/sdb", "gpt", c.disk_size, {}}, parts});
        s.encrypt = c.encrypt;
        auto r = install::preflight(s, used);
        if (c.have) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error(), i18n::fill_placeholders(en("error.target_too_small"), {"have", "need"},
                                                         {gb(*c.have), gb(need)}));
        } else {
            EXPECT_TRUE(r) << r.error();
        }
    }
    // Unknown usage skips the size check.
    EXPECT_TRUE(install::preflight(choose({TargetSelection::WholeDisk{"/dev/sdb"}}, {{"/dev/sdb", "gpt", 1, {}}}),
                                   std::nullopt));
    auto shown = install::preflight(choose({TargetSelection::WholeDisk{"/dev/sdb"}}, {{"/dev/sdb", "gpt", 100 * MIB, {}}}),
                                    std::uint64_t(6'000'000'000));
    ASSERT_FALSE(shown);
    EXPECT_EQ(shown.error(), "The target has 0.0 GB but the system needs at least 7.7 GB.");
}

// The real df measures the running system.
TEST_F(LiveOnSda, TargetSizeAgainstTheRunningSystem) {
    auto used = install::df_field("/", "used");
    if (!used) GTEST_SKIP() << "df cannot measure / here";
    auto tiny = install::preflight(choose({TargetSelection::WholeDisk{"/dev/sdb"}}, {{"/dev/sdb", "gpt", 100 * MIB, {}}}));
    ASSERT_FALSE(tiny);
    EXPECT_EQ(tiny.error().rfind("The target has 0.0 GB but", 0), 0u) << tiny.error();
    auto huge = install::preflight(choose({TargetSelection::WholeDisk{"/dev/sdb"}}, {{"/dev/sdb", "gpt", *used * 4 + 4 * GIB, {}}}));
    EXPECT_TRUE(huge) << huge.error();
}

TEST(DfOutput, SecondLineOnly) {
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases = {
        {"    Used\n  123  \n", 123u}, {"Used\n", std::nullopt},       {"Used\n\n", std::nullopt},
        {"Used\n12x\n", std::nullopt}, {"Used\n+5\n7\n", 5u},          {"", std::nullopt},
    };
    for (const auto& [out, want] : cases) EXPECT_EQ(install::parse_df_output(out), want) << out;
    EXPECT_EQ(install::df_field("/nonexistent-path", "used"), std::nullopt);
}

TEST(AccountForm, Rules) {
    const std::vector<std::pair<install::AccountForm, bool>> cases = {
        {{"ann", "box", "pw", "pw"}, true},
        {{"_svc-1", "my-Box-2", "x", "x"}, true},
        {{"Ann", "box", "pw", "pw"}, false},
        {{"1ann", "box", "pw", "pw"}, false},
        {{"", "box", "pw", "pw"}, false},
        {{std::string(33, 'a'), "box", "pw", "pw"}, false},
        {{std::string(32, 'a'), std::string(63, 'b'), "pw", "pw"}, true},
        {{"ann", std::string(64, 'b'), "pw", "pw"}, false},
        {{"ann", "-box", "pw", "pw"}, false},
        {{"ann", "box-", "pw", "pw"}, false},
        {{"ann", "bo_x", "pw", "pw"}, false},
        {{"ann", "box", "", ""}, false},
        {{"ann", "box", "pw", "pW"}, false},
    };
    for (const auto& [form, ok] : cases) EXPECT_EQ(install::account_form_valid(form), ok) << form.username << " " << form.hostname;
}

TEST(SamePath, ComponentWise) {
    EXPECT_TRUE(install::same_path("/dev/sda", "/dev/sda/"));
    EXPECT_TRUE(install::same_path("/dev//sda", "/dev/sda"));
    EXPECT_TRUE(install::same_path("/dev/./sda", "/dev/sda"));
    EXPECT_FALSE(install::same_path("/dev/sda", "/dev/sda1"));
    EXPECT_FALSE(install::same_path("dev/sda", "/dev/sda"));
}
