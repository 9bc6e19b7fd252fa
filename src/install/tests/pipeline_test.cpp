#include "install/bootloader.hpp"
#include "install/pipeline.hpp"
#include "platform/system_paths.hpp"
#include "support/loop_image.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t GIB = 1ull << 30;

TEST(RootSizeCheck, NeedIsUsedPlusATenthPlusOneGib) {
    struct Case {
        std::optional<std::uint64_t> have, used;
        std::string error; // empty: passes
    };
    const std::uint64_t used = 5'000'000'000;
    const std::uint64_t need = used + used / 10 + GIB; // 6,573,741,824
    const std::vector<Case> cases = {
        {need, used, ""},
        {need - 1, used, "/dev/sdb2 has 6.6 GB but the system needs at least 6.6 GB"},
        {1'000'000'000, used, "/dev/sdb2 has 1.0 GB but the system needs at least 6.6 GB"},
        {0, 0, "/dev/sdb2 has 0.0 GB but the system needs at least 1.1 GB"},
        // Either number unknown: no check.
        {std::nullopt, used, ""},
        {1, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        auto r = install::check_root_size("/dev/sdb2", c.have, c.used);
        EXPECT_EQ(r ? std::string() : r.error(), c.error);
    }
}

TEST(RootSizeCheck, SizeFromSysfs) {
    support::ScratchDir sys;
    auto saved = platform::paths();
    auto p = saved;
    p.sys = sys.path();
    platform::set_paths(p);
    struct Case {
        std::string name, content;
        std::optional<std::uint64_t> bytes;
    };
    const std::vector<Case> cases = {
        {"sdb2", "2048\n", 1048576}, {"sdc1", " +4 ", 2048}, {"sdd1", "x", std::nullopt}, {"sde1", "", std::nullopt}};
    for (const auto& c : cases) {
        std::filesystem::create_directories(sys / ("class/block/" + c.name));
        std::ofstream(sys / ("class/block/" + c.name + "/size")) << c.content;
        EXPECT_EQ(install::block_device_bytes("/dev/" + c.name), c.bytes) << c.name;
    }
    // An opened container has no entry of that name.
    EXPECT_EQ(install::block_device_bytes("/dev/mapper/tavix_crypt"), std::nullopt);
    platform::set_paths(saved);
}

TEST(Bootloader, UefiWithoutAnEspInstallsNothing) {
    ipc::InstallPlan plan;
    plan.disk = "/dev/tavix-none";
    plan.mode = ipc::TargetMode::Partition{2};
    install::TargetLayout layout{"/dev/tavix-none2", std::nullopt, std::nullopt, std::nullopt, false};
    auto r = install::install_bootloader(plan, layout, platform::BootScheme::Efi);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "no bootloader could be installed");
}

} // namespace
