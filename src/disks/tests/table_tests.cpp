// The GPT and MBR codec against tables written and checked by sfdisk,
// sgdisk and blkid on real loop devices.

#include <base/units.hpp>
#include "disks/disks.hpp"
#include "disks/table.hpp"
#include "tools.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace disks_test;
using support::LoopDisk;

namespace {

using base::MIB;

struct Fd {
    int fd;
    explicit Fd(const std::string& p, int flags = O_RDWR) : fd(::open(p.c_str(), flags | O_CLOEXEC)) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

TEST(GuidText, RoundTripsInMixedEndianOrder) {
    auto g = disks::parse_guid(disks::LINUX_DATA_GUID);
    ASSERT_TRUE(g);
    // On disk the first three groups are little-endian.
    EXPECT_EQ((*g)[0], 0xAF);
    EXPECT_EQ((*g)[3], 0x0F);
    EXPECT_EQ((*g)[4], 0x83);
    EXPECT_EQ((*g)[8], 0x8E);
    EXPECT_EQ(disks::format_guid(*g), disks::LINUX_DATA_GUID);
    EXPECT_FALSE(disks::parse_guid("0FC63DAF-8483-4772-8E79-3D69D8477DEZ"));
    EXPECT_FALSE(disks::parse_guid("0FC63DAF84834772-8E79-3D69D8477DE4"));
}

TEST(GptEntryName, KeepsNonAsciiAndCutsAt36Units) {
    disks::GptEntry e;
    e.set_name("Données ✓");
    EXPECT_EQ(e.name(), "Données ✓");
    e.set_name(std::string(40, 'x'));
    EXPECT_EQ(e.name(), std::string(36, 'x'));
}

// Reading what sfdisk wrote: every slot counts, names, GUIDs and LBAs are in
// the table's own sector size.
TEST(GptCodec, ReadsSfdiskTablesAtBothSectorSizes) {
    REQUIRE_LOOP();
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + std::to_string(ss));
        auto disk = LoopDisk::create(64 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        const std::uint64_t per_mib = MIB / ss;
        sfdisk_script(disk->path(), "label: gpt\n"
                                    "start=" + std::to_string(per_mib) + ", size=" + std::to_string(4 * per_mib) + ", name=boot\n"
                                    "start=" + std::to_string(20 * per_mib) + ", size=" + std::to_string(8 * per_mib) + "\n");
        auto json = sfdisk_json(disk->path());
        Fd f(disk->path(), O_RDONLY);
        auto g = disks::find_gpt(f.fd);
        ASSERT_TRUE(g) << g.error().text;
        EXPECT_EQ(g->sector_size, ss);
        EXPECT_EQ(g->entries.size(), 128u);
        EXPECT_EQ(g->first_usable, json["firstlba"].get<std::uint64_t>());
        EXPECT_EQ(g->last_usable, json["lastlba"].get<std::uint64_t>());
        EXPECT_EQ(disks::format_guid(g->disk_guid), json["id"].get<std::string>());
        const auto& parts = json["partitions"];
        for (std::size_t i = 0; i < 2; ++i) {
            const auto& e = g->entries[i];
            EXPECT_TRUE(e.used());
            EXPECT_EQ(e.first_lba, parts[i]["start"].get<std::uint64_t>());
            EXPECT_EQ(e.last_lba - e.first_lba + 1, parts[i]["size"].get<std::uint64_t>());
            EXPECT_EQ(disks::format_guid(e.unique), parts[i]["uuid"].get<std::string>());
            EXPECT_EQ(disks::format_guid(e.type), parts[i]["type"].get<std::string>());
        }
        EXPECT_EQ(g->entries[0].name(), "boot");
        EXPECT_FALSE(g->entries[2].used());
    }
}

TEST(GptCodec, NoSignatureIsToldApartFromDamage) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(16 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    Fd f(disk->path());
    auto none = disks::find_gpt(f.fd);
    ASSERT_FALSE(none);
    EXPECT_TRUE(none.error().no_signature);

    sfdisk_script(disk->path(), "label: gpt\nstart=2048, size=4096\n");
    // Break both headers' checksums: the signature stays, so this is damage.
    for (std::uint64_t lba : {std::uint64_t(1), disk->bytes() / 512 - 1}) {
        unsigned char b = 0;
        ASSERT_EQ(::pread(f.fd, &b, 1, off_t(lba * 512 + 40)), 1);
        b ^= 0xFF;
        ASSERT_EQ(::pwrite(f.fd, &b, 1, off_t(lba * 512 + 40)), 1);
    }
    auto broken = disks::find_gpt(f.fd);
    ASSERT_FALSE(broken);
    EXPECT_FALSE(broken.error().no_signature);
}

TEST(GptCodec, DamagedPrimaryIsReadFromBackupAndRepairedOnWrite) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(32 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    sfdisk_script(disk->path(), "label: gpt\nstart=2048, size=8192\n");
    Fd f(disk->path());
    std::vector<char> zeros(512, 0);
    ASSERT_EQ(::pwrite(f.fd, zeros.data(), zeros.size(), 2 * 512), 512); // first sector of the primary array
    auto g = disks::read_gpt(f.fd, 512);
    ASSERT_TRUE(g) << g.error().text;
    ASSERT_TRUE(g->entries[0].used());
    EXPECT_EQ(g->entries[0].first_lba, 2048u);
    ASSERT_TRUE(disks::write_gpt(f.fd, *g));
    EXPECT_EQ(sgdisk_problems(disk->path()), "");
}

// Writing a fresh table plus protective MBR; both copies must be what the
// reference tools expect, at both sector sizes.
TEST(GptCodec, FreshTableWithEntriesPassesTheReferenceTools) {
    REQUIRE_LOOP();
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + std::to_string(ss));
        auto disk = LoopDisk::create(64 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        Fd f(disk->path());
        auto g = disks::Gpt::create(disk->bytes(), ss, *disks::parse_guid("11111111-2222-3333-4444-555555555555"));
        ASSERT_TRUE(g) << g.error();
        const std::uint64_t per_mib = MIB / ss;
        EXPECT_EQ(g->last_usable, disk->bytes() / ss - 1 - g->entry_array_sectors() - 1);
        auto& e = g->entries[2]; // slot 3: numbers are slot positions
        e.type = *disks::parse_guid(disks::EFI_SYSTEM_GUID);
        e.unique = *disks::parse_guid("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");
        e.first_lba = per_mib;
        e.last_lba = 9 * per_mib - 1;
        e.set_name("esp");
        ASSERT_TRUE(disks::write_protective_mbr(f.fd, ss));
        ASSERT_TRUE(disks::write_gpt(f.fd, *g));

        auto json = sfdisk_json(disk->path());
        EXPECT_EQ(json["label"], "gpt");
        EXPECT_EQ(json["id"], "11111111-2222-3333-4444-555555555555");
        EXPECT_EQ(json["sectorsize"].get<std::uint64_t>(), ss);
        ASSERT_EQ(json["partitions"].size(), 1u);
        EXPECT_EQ(json["partitions"][0]["node"], disk->path() + "p3");
        EXPECT_EQ(json["partitions"][0]["start"].get<std::uint64_t>(), per_mib);
        EXPECT_EQ(json["partitions"][0]["size"].get<std::uint64_t>(), 8 * per_mib);
        EXPECT_EQ(json["partitions"][0]["name"], "esp");
        EXPECT_EQ(json["partitions"][0]["uuid"], "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");
        EXPECT_EQ(sgdisk_problems(disk->path()), "");
        EXPECT_EQ(blkid_pttype(disk->path()), "gpt");
    }
}

// An image written onto a larger disk: the backup moves to the real end and
// the usable area follows it.
TEST(GptCodec, GrownDeviceGetsItsBackupMovedToTheEnd) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(64 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    {
        // Write the table for a 32 MiB disk into the first half.
        support::TempDir dir;
        std::string small = dir.path() + "/small.img";
        int fd = ::open(small.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_EQ(::ftruncate(fd, 32 * MIB), 0);
        ::close(fd);
        sfdisk_script(small, "label: gpt\nstart=2048, size=8192\n");
        auto r = run_command({"dd", "if=" + small, "of=" + disk->path(), "bs=1M", "conv=notrunc,fsync", "status=none"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    Fd f(disk->path());
    auto g = disks::read_gpt(f.fd, 512);
    ASSERT_TRUE(g) << g.error().text;
    EXPECT_EQ(g->backup_lba, 64 * MIB / 512 - 1);
    EXPECT_EQ(g->last_usable, 64 * MIB / 512 - 34);
    ASSERT_TRUE(disks::write_gpt(f.fd, *g));
    EXPECT_EQ(sgdisk_problems(disk->path()), "");
    EXPECT_EQ(sfdisk_json(disk->path())["lastlba"].get<std::uint64_t>(), 64 * MIB / 512 - 34);
}

TEST(MbrCodec, ReadsPrimariesAndTheLogicalChainInChainOrder) {
    REQUIRE_LOOP();
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + std::to_string(ss));
        auto disk = LoopDisk::create(128 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        const std::uint64_t m = MIB / ss;
        auto at = [&](std::uint64_t mib) { return std::to_string(mib * m); };
        sfdisk_script(disk->path(), "label: dos\n"
                                    "start=" + at(1) + ", size=" + at(8) + ", type=83, bootable\n"
                                    "start=" + at(16) + ", size=" + at(100) + ", type=5\n"
                                    "start=" + at(17) + ", size=" + at(10) + ", type=83\n"
                                    "start=" + at(40) + ", size=" + at(10) + ", type=82\n"
                                    "start=" + at(60) + ", size=" + at(10) + ", type=7\n");
        Fd f(disk->path(), O_RDONLY);
        EXPECT_FALSE(disks::find_gpt(f.fd));
        auto mbr = disks::read_mbr(f.fd, ss);
        ASSERT_TRUE(mbr) << mbr.error();
        EXPECT_EQ(mbr->primary[0].boot, 0x80);
        EXPECT_EQ(mbr->primary[0].start, m);
        EXPECT_EQ(mbr->extended_slot(), std::optional<std::size_t>(1));
        ASSERT_EQ(mbr->logicals.size(), 3u);
        const std::uint8_t types[] = {0x83, 0x82, 0x07};
        const std::uint64_t starts[] = {17, 40, 60};
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(mbr->logicals[i].entry.type, types[i]);
            EXPECT_EQ(mbr->logicals[i].start(), starts[i] * m);
            EXPECT_EQ(mbr->logicals[i].entry.count, 10 * m);
        }
        EXPECT_EQ(mbr->alignment(), m);
    }
}

// The derived alignment and the free regions it produces; sector 0 is never
// free and regions inside the container come after the outer ones.
TEST(MbrCodec, FreeRegionsFollowTheDerivedAlignment) {
    struct Case {
        std::string name;
        std::uint64_t sector_size;
        std::vector<std::tuple<std::uint8_t, std::uint32_t, std::uint32_t>> primaries; // type, start, count
        std::vector<std::pair<std::uint64_t, std::uint32_t>> logicals;                  // start, count (EBR just before)
        std::uint64_t alignment;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> regions;
    };
    const std::uint64_t D = 262144; // 128 MiB at 512
    std::vector<Case> cases = {
        {"empty table", 512, {}, {}, 2048, {{2048, D - 2048}}},
        {"empty table, 4096-byte sectors", 4096, {}, {}, 256, {{256, D - 256}}},
        {"one aligned partition", 512, {{0x83, 2048, 4096}}, {}, 2048, {{6144, D - 6144}}},
        {"cylinder-era start at 63", 512, {{0x83, 63, 1000}}, {}, 1, {{1, 62}, {1063, D - 1063}}},
        {"start at 4096 only", 512, {{0x83, 4096, 4096}}, {}, 2048, {{2048, 2048}, {8192, D - 8192}}},
        {"extended with a hole between logicals",
         512,
         {{0x83, 2048, 2048}, {0x0F, 8192, 100000}},
         {{10240, 4096}, {30720, 4096}},
         2048,
         // outer: after the primary (last 4095) and after the container
         // (last 108191); inner: after each logical's last sector
         {{4096, 4096}, {108544, D - 108544}, {14336, 16384}, {34816, 108192 - 34816}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        disks::Mbr m;
        m.sector_size = c.sector_size;
        m.disk_sectors = D;
        for (std::size_t i = 0; i < c.primaries.size(); ++i) {
            auto [t, s, n] = c.primaries[i];
            m.primary[i].type = t;
            m.primary[i].start = s;
            m.primary[i].count = n;
        }
        for (auto [s, n] : c.logicals) {
            disks::MbrLogical l;
            l.ebr = s - 1;
            l.entry.type = 0x83;
            l.entry.start = 1;
            l.entry.count = n;
            m.logicals.push_back(l);
        }
        EXPECT_EQ(m.alignment(), c.alignment);
        EXPECT_EQ(m.free_regions(), c.regions);
    }
}

// Appending and removing logicals, then checking the chain sfdisk reads back.
TEST(MbrCodec, LogicalChainEditsAreReadBackBySfdisk) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(128 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    sfdisk_script(disk->path(), "label: dos\nstart=2048, size=20480, type=83\nstart=32768, size=200000, type=5\n");
    Fd f(disk->path());
    auto m = disks::read_mbr(f.fd, 512);
    ASSERT_TRUE(m) << m.error();
    ASSERT_TRUE(m->logicals.empty());
    // First logical: its record is the container's first sector.
    ASSERT_TRUE(m->push_logical(0x83, 34816, 20480));
    EXPECT_EQ(m->logicals[0].ebr, 32768u);
    // Free sector right before: the record goes there and the start is kept.
    ASSERT_TRUE(m->push_logical(0x83, 67584, 20480));
    EXPECT_EQ(m->logicals[1].ebr, 67583u);
    EXPECT_EQ(m->logicals[1].start(), 67584u);
    // Right after the previous logical: no room in front, so it is refused
    // rather than moved; one step later the record fits in front.
    EXPECT_FALSE(m->push_logical(0x82, 88064, 20480));
    ASSERT_EQ(m->logicals.size(), 2u);
    ASSERT_TRUE(m->push_logical(0x82, 88064 + 2048, 20480 - 2048));
    EXPECT_EQ(m->logicals[2].ebr, 88064u + 2047);
    EXPECT_EQ(m->logicals[2].start(), 88064u + 2048);
    EXPECT_EQ(m->logicals[2].entry.count, 20480u - 2048);
    // Outside the container.
    EXPECT_FALSE(m->push_logical(0x83, 2048, 100));
    EXPECT_FALSE(m->push_logical(0x83, 200000, 100000));
    ASSERT_TRUE(disks::write_mbr(f.fd, *m));

    auto json = sfdisk_json(disk->path());
    ASSERT_EQ(json["partitions"].size(), 5u);
    EXPECT_EQ(json["partitions"][2]["node"], disk->path() + "p5");
    EXPECT_EQ(json["partitions"][2]["start"], 34816);
    EXPECT_EQ(json["partitions"][3]["start"], 67584);
    EXPECT_EQ(json["partitions"][4]["start"], 90112);
    EXPECT_EQ(json["partitions"][4]["type"], "82");
    EXPECT_EQ(blkid_pttype(disk->path()), "dos");

    // Removing the head of the chain keeps the container's first sector as
    // the head record; numbers move down.
    ASSERT_TRUE(m->remove_logical(5));
    EXPECT_FALSE(m->remove_logical(8));
    EXPECT_EQ(m->logicals[0].ebr, 32768u);
    ASSERT_TRUE(disks::write_mbr(f.fd, *m));
    json = sfdisk_json(disk->path());
    ASSERT_EQ(json["partitions"].size(), 4u);
    EXPECT_EQ(json["partitions"][2]["node"], disk->path() + "p5");
    EXPECT_EQ(json["partitions"][2]["start"], 67584);
    EXPECT_EQ(json["partitions"][3]["start"], 90112);
    auto again = disks::read_mbr(f.fd, 512);
    ASSERT_TRUE(again);
    ASSERT_EQ(again->logicals.size(), 2u);
    EXPECT_EQ(again->logicals[1].start(), 90112u);
}

TEST(MbrCodec, RefusesWhatIsNotAnMbr) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(16 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    Fd f(disk->path());
    EXPECT_FALSE(disks::read_mbr(f.fd, 512)); // zeros, no signature
    // The protective MBR of a GPT disk is not an MBR to edit.
    sfdisk_script(disk->path(), "label: gpt\n");
    EXPECT_FALSE(disks::read_mbr(f.fd, 512));
    // A boot sector signature with a garbage boot flag (a FAT boot sector).
    std::vector<unsigned char> sec(512, 0);
    sec[446] = 0x12;
    sec[510] = 0x55;
    sec[511] = 0xAA;
    ASSERT_EQ(::pwrite(f.fd, sec.data(), 512, 0), 512);
    EXPECT_FALSE(disks::read_mbr(f.fd, 512));
}
