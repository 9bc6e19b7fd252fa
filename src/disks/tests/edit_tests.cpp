// Partition-table edits on loop devices, every result checked with sfdisk,
// sgdisk and blkid.

#include <base/units.hpp>
#include "disks/disks.hpp"
#include "disks/edit.hpp"
#include "tools.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <functional>
#include <set>
#include <unistd.h>

using namespace disks_test;
using support::LoopDisk;

namespace {

using base::MIB;

std::string s(std::uint64_t v) { return std::to_string(v); }

// Start and size (sectors) of each partition sfdisk sees, by node.
std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> layout(const std::string& dev) {
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> out;
    auto json = sfdisk_json(dev);
    for (const auto& p : json["partitions"])
        out.emplace_back(p["node"].get<std::string>(), p["start"].get<std::uint64_t>(), p["size"].get<std::uint64_t>());
    return out;
}

std::string gpt_disk(const LoopDisk& d, const std::string& parts) {
    sfdisk_script(d.path(), "label: gpt\n" + parts);
    return d.path();
}

} // namespace

TEST(Wipe, ZeroesBothEndsAndNothingElse) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(100 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    gpt_disk(*disk, "start=2048, size=40960\n");
    int fd = ::open(disk->path().c_str(), O_RDWR | O_CLOEXEC);
    std::vector<char> ones(4096, 0x5A);
    ASSERT_EQ(::pwrite(fd, ones.data(), ones.size(), 50 * MIB), 4096);
    ASSERT_EQ(::pwrite(fd, ones.data(), ones.size(), 100 * MIB - MIB - 4096), 4096); // just before the tail
    ::close(fd);

    ASSERT_TRUE(disks::wipe(disk->path()));
    fd = ::open(disk->path().c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buf(MIB);
    for (std::uint64_t at : {std::uint64_t(0), 99 * MIB}) {
        ASSERT_EQ(::pread(fd, buf.data(), buf.size(), off_t(at)), ssize_t(MIB));
        EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](char c) { return c == 0; })) << "at " << at;
    }
    char c = 0;
    ASSERT_EQ(::pread(fd, &c, 1, 50 * MIB), 1);
    EXPECT_EQ(c, 0x5A);
    ASSERT_EQ(::pread(fd, &c, 1, 99 * MIB - 1), 1);
    EXPECT_EQ(c, 0x5A);
    EXPECT_FALSE(disks::find_gpt(fd));
    EXPECT_FALSE(disks::read_mbr(fd, 512));
    ::close(fd);
    EXPECT_EQ(blkid_pttype(disk->path()), "");
}

TEST(Wipe, OpenFailureIsReported) {
    auto r = disks::wipe("/nonexistent/disk");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "open /nonexistent/disk: No such file or directory");
}

TEST(CreateGpt, FirstEmptySlotAndExactSectors) {
    REQUIRE_LOOP();
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + s(ss));
        auto disk = LoopDisk::create(256 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        const std::uint64_t m = MIB / ss;
        gpt_disk(*disk, "start=" + s(m) + ", size=" + s(100 * m) + "\nstart=" + s(120 * m) + ", size=" + s(10 * m) + "\n");
        // Slots 1 and 2 in use: the new one is 3.
        auto n = disks::create_partition(disk->path(), 140 * MIB, 20 * MIB);
        ASSERT_TRUE(n) << n.error();
        EXPECT_EQ(*n, 3u);
        ASSERT_TRUE(disks::delete_partitions(disk->path(), {1}));
        auto again = disks::create_partition(disk->path(), MIB, 100 * MIB);
        ASSERT_TRUE(again) << again.error();
        EXPECT_EQ(*again, 1u);
        EXPECT_EQ(sgdisk_problems(disk->path()), "");
        EXPECT_EQ(blkid_pttype(disk->path()), "gpt");
        auto json = sfdisk_json(disk->path());
        ASSERT_EQ(json["partitions"].size(), 3u);
        // 1 MiB for 100 MiB: LBAs 2048..206847 at 512-byte sectors.
        EXPECT_EQ(json["partitions"][0]["start"].get<std::uint64_t>(), m);
        EXPECT_EQ(json["partitions"][0]["size"].get<std::uint64_t>(), 100 * m);
        EXPECT_EQ(json["partitions"][2]["start"].get<std::uint64_t>(), 140 * m);
        EXPECT_EQ(json["partitions"][2]["type"], disks::LINUX_DATA_GUID);
        EXPECT_NE(json["partitions"][0]["uuid"], json["partitions"][2]["uuid"]);
        ASSERT_TRUE(disk->refresh());
        EXPECT_EQ(disks::partition_range(disk->path(), 3), std::pair(140 * MIB, 20 * MIB));
    }
}

// The deleted slot keeps its other fields; only the type is cleared.
// A deleted GPT partition leaves no trace that another partitioner would
// still list: the whole entry is zero.
TEST(DeleteGpt, ClearsTheWholeEntryAndIgnoresUnknownNumbers) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(64 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    gpt_disk(*disk, "start=2048, size=4096, name=keep\nstart=8192, size=4096, name=gone\n");
    ASSERT_TRUE(disks::delete_partitions(disk->path(), {2, 0, 500}));
    int fd = ::open(disk->path().c_str(), O_RDONLY | O_CLOEXEC);
    auto g = disks::find_gpt(fd);
    ::close(fd);
    ASSERT_TRUE(g);
    EXPECT_TRUE(g->entries[0].used());
    EXPECT_EQ(g->entries[0].name(), "keep");
    EXPECT_FALSE(g->entries[1].used());
    EXPECT_EQ(g->entries[1].unique, disks::Guid{});
    EXPECT_EQ(g->entries[1].name(), "");
    EXPECT_EQ(g->entries[1].first_lba, 0u);
    EXPECT_EQ(g->entries[1].last_lba, 0u);
    // What the other tools see: one partition.
    EXPECT_EQ(layout(disk->path()), (std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
                                        {disk->part(1), 2048, 4096}}));
    EXPECT_EQ(partx_ranges(disk->path()), (std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>>{
                                              {1, 2048 * 512, 4096 * 512}}));
    auto printed = support::run_command({"sgdisk", "-p", disk->path()});
    EXPECT_EQ(printed.out.find("8192"), std::string::npos) << printed.out;
    EXPECT_EQ(printed.out.find("FFFF"), std::string::npos) << printed.out;
    EXPECT_EQ(sgdisk_problems(disk->path()), "");
    EXPECT_TRUE(disks::delete_partitions("/nonexistent/disk", {})); // opens nothing
}

TEST(ResizeGpt, MovesOnlyTheEnd) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(2048 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    gpt_disk(*disk, "start=2048, size=2048\nstart=4096, size=2048\n");
    ASSERT_TRUE(disks::resize_partition(disk->path(), 2, 1024 * MIB));
    auto json = sfdisk_json(disk->path());
    EXPECT_EQ(json["partitions"][1]["start"].get<std::uint64_t>(), 4096u);
    EXPECT_EQ(json["partitions"][1]["size"].get<std::uint64_t>(), 2097152u); // last = first + 2,097,151
    EXPECT_EQ(sgdisk_problems(disk->path()), "");
}

// Every refusal, with the table left as it was.
TEST(EditErrors, TextsAndUnchangedTables) {
    REQUIRE_LOOP();
    auto gpt = LoopDisk::create(128 * MIB);
    auto mbr = LoopDisk::create(128 * MIB);
    auto full = LoopDisk::create(128 * MIB);
    auto blank = LoopDisk::create(16 * MIB);
    ASSERT_TRUE(gpt && mbr && full && blank);
    const std::string G = gpt->path(), M = mbr->path(), F = full->path(), B = blank->path();
    gpt_disk(*gpt, "start=2048, size=20480\nstart=40960, size=20480\n");
    sfdisk_script(M, "label: dos\nstart=2048, size=20480\nstart=40960, size=100000, type=5\nstart=43008, size=20480\n");
    sfdisk_script(F, "label: dos\nstart=2048, size=2048\nstart=4096, size=2048\nstart=6144, size=2048\nstart=8192, size=2048\n");
    // sfdisk puts the first usable sector at 1 MiB; last usable + 1, in bytes:
    const std::uint64_t gpt_end = (128 * MIB / 512 - 33) * 512;

    struct Case {
        std::string name;
        std::function<std::expected<void, std::string>()> op;
        std::string disk;
        std::string text;
    };
    auto create = [](std::string d, std::uint64_t a, std::uint64_t n) {
        return [=]() -> std::expected<void, std::string> {
            auto r = disks::create_partition(d, a, n);
            if (!r) return std::unexpected(r.error());
            return {};
        };
    };
    auto resize = [](std::string d, std::uint32_t n, std::uint64_t sz) {
        return [=] { return disks::resize_partition(d, n, sz); };
    };
    const std::vector<Case> cases = {
        {"gpt size below a sector", create(G, 100 * MIB, 3), G, "size below one sector"},
        {"gpt resize below a sector", resize(G, 1, 3), G, "size below one sector"},
        {"mbr size below a sector", create(M, MIB, 3), M, "size 3 or start 1048576 out of MBR range"},
        {"mbr start beyond 32 bits", create(M, (1ull << 32) * 512, MIB), M,
         "size 1048576 or start 2199023255552 out of MBR range"},
        {"mbr resize below a sector", resize(M, 1, 3), M, "size 3 out of MBR range"},
        {"gpt slot out of range", resize(G, 129, MIB), G, "p129: not in GPT"},
        {"mbr number not in chain", resize(M, 6, MIB), M, "p6: not in MBR"},
        {"mbr number zero", resize(M, 0, MIB), M, "p0: not in MBR"},
        {"four primaries", create(F, 10 * MIB, MIB), F, "no free MBR entry (4-primary limit)"},
        {"no table create", create(B, MIB, MIB), B, "no recognized table on " + B},
        {"no table delete", [&] { return disks::delete_partitions(B, {1}); }, B, "no recognized table on " + B},
        {"no table resize", resize(B, 1, MIB), B, "no recognized table on " + B},
        // Ranges must stay in the usable area and clear of partitions in use.
        {"gpt over the primary array", create(G, 0, MIB), G,
         "range 0+1048576 on " + G + " lies outside the usable area 1048576-" + s(gpt_end)},
        {"gpt over the backup array", create(G, 127 * MIB, MIB), G,
         "range 133169152+1048576 on " + G + " lies outside the usable area 1048576-" + s(gpt_end)},
        {"gpt overlapping partition 2", create(G, 15 * MIB, 10 * MIB), G,
         "range 15728640+10485760 on " + G + " overlaps partition 2"},
        {"gpt grow into the next partition", resize(G, 1, 30 * MIB), G,
         "range 1048576+31457280 on " + G + " overlaps partition 2"},
        {"gpt grow past the usable end", resize(G, 2, 200 * MIB), G,
         "range 20971520+209715200 on " + G + " lies outside the usable area 1048576-" + s(gpt_end)},
        {"mbr over sector 0", create(M, 0, MIB), M,
         "range 0+1048576 on " + M + " lies outside the usable area 512-" + s(128 * MIB)},
        {"mbr straddling the container", create(M, 15 * MIB, 10 * MIB), M,
         "range 15728640+10485760 on " + M + " overlaps partition 2"},
        {"mbr logical over logical 5", create(M, 25 * MIB, 10 * MIB), M,
         "range 26214400+10485760 on " + M + " overlaps partition 5"},
        {"mbr logical past the container", create(M, 60 * MIB, 10 * MIB), M,
         "range 62914560+10485760 on " + M + " lies outside the usable area 20972032-" + s((40960 + 100000) * 512)},
        {"mbr primary grown over the container", resize(M, 1, 30 * MIB), M,
         "range 1048576+31457280 on " + M + " overlaps partition 2"},
        {"mbr container cut below its logicals", resize(M, 2, 2 * MIB), M,
         "range 20971520+2097152 on " + M + " would cut off partition 5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto before = blank->path() == c.disk ? decltype(layout(c.disk)){} : layout(c.disk);
        auto r = c.op();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), c.text);
        if (c.disk != B) {
            EXPECT_EQ(layout(c.disk), before);
        }
    }
    EXPECT_EQ(sgdisk_problems(G), "");
}

TEST(GptFull, NoFreeEntry) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(256 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    std::string script;
    for (int i = 0; i < 128; ++i) script += "start=" + s(2048 + i * 2048) + ", size=2048\n";
    gpt_disk(*disk, script);
    auto r = disks::create_partition(disk->path(), 200 * MIB, MIB);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "no free GPT entry");
}

TEST(CreateMbr, LogicalInsideTheContainerPrimaryOutside) {
    REQUIRE_LOOP();
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + s(ss));
        auto disk = LoopDisk::create(256 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        const std::uint64_t m = MIB / ss;
        const std::string D = disk->path();
        sfdisk_script(D, "label: dos\nstart=" + s(m) + ", size=" + s(10 * m) + "\nstart=" + s(20 * m) + ", size=" +
                             s(100 * m) + ", type=5\n");
        // Slots 3 and 4 are free, yet a range in the container becomes logical 5.
        auto n5 = disks::create_partition(D, 22 * MIB, 10 * MIB);
        ASSERT_TRUE(n5) << n5.error();
        EXPECT_EQ(*n5, 5u);
        auto n6 = disks::create_partition(D, 40 * MIB, 10 * MIB);
        ASSERT_TRUE(n6) << n6.error();
        EXPECT_EQ(*n6, 6u);
        auto n3 = disks::create_partition(D, 130 * MIB, 10 * MIB);
        ASSERT_TRUE(n3) << n3.error();
        EXPECT_EQ(*n3, 3u);
        EXPECT_EQ(blkid_pttype(D), "dos");
        EXPECT_EQ(layout(D), (std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
                                 {disk->part(1), m, 10 * m},
                                 {disk->part(2), 20 * m, 100 * m},
                                 {disk->part(3), 130 * m, 10 * m},
                                 {disk->part(5), 22 * m, 10 * m},
                                 {disk->part(6), 40 * m, 10 * m}}));
        ASSERT_TRUE(disk->refresh());
        EXPECT_EQ(disks::partition_range(D, 6), std::pair(40 * MIB, 10 * MIB));
        // A logical right after logical 6 ends has no sector in front of it
        // for its boot record: refused, not moved, and nothing is written.
        const std::string before = sha256(D);
        auto n7 = disks::create_partition(D, 50 * MIB, 10 * MIB);
        ASSERT_FALSE(n7);
        EXPECT_EQ(n7.error(), "push logical on " + D + ": no room for the extended boot record in front of sector " +
                                  s(50 * m));
        EXPECT_EQ(sha256(D), before);
        // One step later the record fits in front, and the partition is
        // exactly the one asked for.
        n7 = disks::create_partition(D, 51 * MIB, 9 * MIB);
        ASSERT_TRUE(n7) << n7.error();
        EXPECT_EQ(*n7, 7u);
        EXPECT_EQ(layout(D).back(), std::make_tuple(disk->part(7), 51 * m, 9 * m));
        EXPECT_EQ(partx_ranges(D).back(), std::make_tuple(std::uint32_t(7), 51 * MIB, 9 * MIB));
    }
}

TEST(DeleteMbr, LogicalsInEitherOrder) {
    REQUIRE_LOOP();
    for (std::vector<std::uint32_t> order : {std::vector<std::uint32_t>{5, 6}, std::vector<std::uint32_t>{6, 5}}) {
        auto disk = LoopDisk::create(128 * MIB);
        ASSERT_TRUE(disk) << disk.error();
        const std::string D = disk->path();
        sfdisk_script(D, "label: dos\nstart=2048, size=20480\nstart=40960, size=80000, type=5\n"
                         "start=43008, size=8192\nstart=53248, size=8192\nstart=63488, size=8192\n");
        ASSERT_TRUE(disks::delete_partitions(D, order));
        EXPECT_EQ(layout(D), (std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
                                 {disk->part(1), 2048, 20480}, {disk->part(2), 40960, 80000}, {disk->part(5), 63488, 8192}}));
    }
}

TEST(DeleteMbr, PrimarySlotIsClearedAndRepeatsCountOnce) {
    REQUIRE_LOOP();
    auto disk = LoopDisk::create(128 * MIB);
    ASSERT_TRUE(disk) << disk.error();
    const std::string D = disk->path();
    sfdisk_script(D, "label: dos\nstart=2048, size=20480\nstart=40960, size=80000, type=5\n"
                     "start=43008, size=8192\nstart=53248, size=8192\n");
    // 5 twice must not take 6 with it once the chain renumbers.
    ASSERT_TRUE(disks::delete_partitions(D, {5, 1, 5, 9}));
    EXPECT_EQ(layout(D), (std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
                             {disk->part(2), 40960, 80000}, {disk->part(5), 53248, 8192}}));
    EXPECT_EQ(disks::mbr_free_primaries(D), std::optional<std::uint32_t>(3));
}

TEST(ResizeMbr, PrimaryAndLogicalEnds) {
    REQUIRE_LOOP();
    for (std::uint32_t ss : {512u, 4096u}) {
        SCOPED_TRACE("sector size " + s(ss));
        auto disk = LoopDisk::create(128 * MIB, ss);
        ASSERT_TRUE(disk) << disk.error();
        const std::uint64_t m = MIB / ss;
        const std::string D = disk->path();
        sfdisk_script(D, "label: dos\nstart=" + s(m) + ", size=" + s(10 * m) + "\nstart=" + s(20 * m) + ", size=" +
                             s(100 * m) + ", type=5\nstart=" + s(22 * m) + ", size=" + s(10 * m) + "\n");
        ASSERT_TRUE(disks::resize_partition(D, 1, 15 * MIB));
        ASSERT_TRUE(disks::resize_partition(D, 5, 40 * MIB));
        EXPECT_EQ(layout(D), (std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
                                 {disk->part(1), m, 15 * m}, {disk->part(2), 20 * m, 100 * m}, {disk->part(5), 22 * m, 40 * m}}));
    }
}

TEST(ClockGuids, NeverRepeat) {
    std::set<disks::Guid> seen;
    unsigned __int128 last = 0;
    for (int i = 0; i < 10000; ++i) {
        unsigned __int128 n = disks::now_nanos();
        EXPECT_GT(n, last);
        last = n;
        EXPECT_TRUE(seen.insert(disks::clock_guid()).second);
    }
    // Plausibly nanoseconds since 1970: after 2020, before 2200.
    EXPECT_GT(last, (unsigned __int128)1577836800ull * 1000000000ull);
    EXPECT_LT(last, (unsigned __int128)7258118400ull * 1000000000ull);
}
