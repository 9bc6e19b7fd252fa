// The first-boot step as the real executable, rooted in a test root inside a
// private mount namespace. clevis, update-initramfs, apt-get and mkimage are
// stand-ins (no TPM, no initramfs to rebuild, no package archive here); user
// accounts are changed by the root's own usermod and chpasswd, and the root is
// grown by the real partx and resize2fs on a loop device.
#include "support/debian_root.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

namespace stdfs = std::filesystem;
using support::RootedOptions;

const std::string STATE = "/var/lib/tavix-installer";

using support::read_file;
using support::write_file;

std::set<std::string> markers(const std::string& root) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(root + STATE, ec)) names.insert(e.path().filename().string());
    return names;
}

std::expected<support::RootedRun, std::string> firstboot(const std::string& root, RootedOptions o = {}) {
    o.args = {"firstboot"};
    return support::run_rooted(TAVIX_INSTALLER_EXE, root, o);
}

// The passwd or shadow line of `user`, or nothing.
std::optional<std::string> account_line(const std::string& file, const std::string& user) {
    std::istringstream in(read_file(file).value_or(""));
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(user + ":")) return line;
    return std::nullopt;
}

bool password_verifies(const std::string& shadow_line, const std::string& password) {
    auto a = shadow_line.find(':');
    auto b = shadow_line.find(':', a + 1);
    const std::string hash = shadow_line.substr(a + 1, b - a - 1);
    auto r = support::run_command({"python3", "-W", "ignore", "-c",
                                   "import crypt, sys; sys.exit(0 if crypt.crypt(sys.argv[1], sys.argv[2]) == sys.argv[2] else 1)",
                                   password, hash});
    return r.exit_code == 0;
}

class Firstboot : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "a private mount namespace needs root";
    }
};

TEST_F(Firstboot, NothingStagedDoesNothing) {
    // With "daemon" too, only the first-boot step runs.
    for (const auto& args : {std::vector<std::string>{"firstboot"}, std::vector<std::string>{"firstboot", "daemon"}}) {
        SCOPED_TRACE(args.size());
        support::TempDir dir;
        const std::string root = dir.path() + "/root";
        stdfs::create_directories(root + STATE);
        RootedOptions o;
        o.args = args;
        auto r = support::run_rooted(TAVIX_INSTALLER_EXE, root, o);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->status, 0);
        EXPECT_EQ(r->err, "");
        EXPECT_TRUE(markers(root).empty());
        EXPECT_FALSE(stdfs::exists(root + "/run/tavix-installer"));
    }
}

TEST_F(Firstboot, StagedAccount) {
    auto pristine = support::debian_root();
    if (!pristine) GTEST_SKIP() << pristine.error();
    struct Case {
        const char* name;
        std::string staged;
        std::string log;
        bool applied;
        bool switched; // "configured" written and "configure-pending" removed
    };
    const std::vector<Case> cases = {
        {"three lines", "ann\nbox\npass word:1 \n", "firstboot: applying staged account ann\n", true, true},
        {"carriage returns", "ann\r\nbox\r\npw\r\n", "firstboot: applying staged account ann\n", true, true},
        {"two lines", "ann\nbox\n", "", false, false},
        {"a user name that chpasswd would split", "a:b\nbox\npw\n",
         "firstboot: applying staged account a:b\nfirstboot: apply account: the user name must not contain \":\"\n",
         false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = support::OverlayRoot::create(*pristine, "overlay");
        ASSERT_TRUE(root) << root.error();
        const std::string R = (*root)->path();
        write_file(R + STATE + "/account-staged", c.staged);
        write_file(R + STATE + "/configure-pending", "");
        const std::string password = c.staged.starts_with("ann\r") ? "pw" : "pass word:1 ";
        auto r = firstboot(R);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->status, 0);
        EXPECT_EQ(r->err, c.log);
        std::set<std::string> expected_markers;
        if (c.switched) {
            expected_markers = {"configured"};
        } else {
            expected_markers = {"configure-pending"};
        }
        EXPECT_EQ(markers(R), expected_markers);
        if (c.switched) {
            EXPECT_EQ(read_file(R + STATE + "/configured"), "");
        }
        if (c.applied) {
            EXPECT_FALSE(account_line(R + "/etc/passwd", "vessara"));
            auto pw = account_line(R + "/etc/passwd", "ann");
            ASSERT_TRUE(pw);
            EXPECT_NE(pw->find(":/home/ann:"), std::string::npos) << *pw;
            EXPECT_TRUE(stdfs::is_directory(R + "/home/ann"));
            EXPECT_FALSE(stdfs::exists(R + "/home/vessara"));
            auto sh = account_line(R + "/etc/shadow", "ann");
            ASSERT_TRUE(sh);
            EXPECT_TRUE(password_verifies(*sh, password)) << *sh;
            auto group = account_line(R + "/etc/group", "sudo");
            ASSERT_TRUE(group);
            EXPECT_TRUE(group->ends_with(":ann")) << *group;
            EXPECT_EQ(read_file(R + "/etc/hostname"), "box\n");
            EXPECT_NE(read_file(R + "/etc/hosts").value_or("").find("127.0.1.1\tbox\n"), std::string::npos);
        } else {
            EXPECT_TRUE(account_line(R + "/etc/passwd", "vessara"));
            EXPECT_NE(read_file(R + "/etc/hostname"), "box\n");
        }
    }
}

TEST_F(Firstboot, StagedEncryptionIsFinishedOnceTheRootIsOpened) {
    auto pristine = support::debian_root();
    if (!pristine) GTEST_SKIP() << pristine.error();
    const std::string uuid = "5c2f6b0e-8a1d-4c33-9d1e-2f4b7a9c0d11";
    const std::string device = "/dev/disk/by-partuuid/" + uuid;
    const std::string bind = "clevis luks bind -f -k /var/lib/tavix-installer/reencrypt-key -d " + device +
                             " tpm2 {\"pcr_ids\":\"7\"}";
    const std::string list = "clevis luks list -d " + device;
    const std::string purge = "apt-get -y --purge remove clevis-initramfs";
    const std::string initramfs = "update-initramfs -u";
    const std::string retiring = "firstboot: re-encryption finished, retiring the staged key\n";
    const std::string dropping = "install: nothing bound to a TPM, removing the clevis initramfs hook\n";
    struct Case {
        const char* name;
        std::string source; // what "/" is mounted from
        bool tpm;
        bool device_link;
        std::string clevis_list;  // what "clevis luks list" prints
        int clevis_status;
        int initramfs_status;
        bool boot_scr;
        std::vector<std::string> calls;
        std::string log;
        bool markers_kept;
    };
    const std::vector<Case> cases = {
        {"TPM, nothing bound afterwards", "/dev/mapper/tavix_crypt", true, true, "", 0, 0, false,
         {bind, list, purge, initramfs}, retiring + dropping, false},
        {"no TPM, a binding listed", "/dev/mapper/tavix_crypt", false, true, "1: tpm2 '{}'\n", 0, 0, false,
         {list, initramfs}, retiring, false},
        {"failures are logged and the boot script ramdisk is still built", "/dev/mapper/tavix_crypt", true, true, "",
         1, 1, true,
         {bind, list, purge, initramfs,
          "mkimage -n uInitrd -A arm64 -O linux -T ramdisk -C gzip -d /boot/initrd.img-6.1.0 /boot/uInitrd-6.1.0"},
         retiring +
             "firstboot: TPM bind failed, boot will ask for the password: clevis exited with exit status: 1: no tpm\n" +
             dropping + "firstboot: update-initramfs: update-initramfs exited with exit status: 1: no tpm\n",
         false},
        {"device gone: no binding, no hook change", "/dev/mapper/tavix_crypt", true, false, "", 0, 0, false,
         {initramfs}, retiring, false},
        {"root not encrypted yet", "/dev/mmcblk0p2", true, true, "", 0, 0, false, {}, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto root = support::OverlayRoot::create(*pristine, c.source);
        ASSERT_TRUE(root) << root.error();
        const std::string R = (*root)->path();
        for (const char* s : {"clevis", "update-initramfs", "apt-get", "mkimage"}) support::install_standin(R, s);
        support::standin_answer(R, "clevis", c.clevis_list, c.clevis_status, c.clevis_status ? "no tpm\n" : "");
        support::standin_answer(R, "update-initramfs", "", c.initramfs_status, c.initramfs_status ? "no tpm\n" : "");
        if (c.boot_scr) {
            write_file(R + "/boot/boot.scr", "script");
            write_file(R + "/boot/initrd.img-6.1.0", "ramdisk");
        }
        write_file(R + STATE + "/reencrypt-key", "pw");
        write_file(R + STATE + "/reencrypt-device", uuid + "\n");
        RootedOptions o;
        if (c.tpm) o.dev_files = {"tpmrm0"};
        if (c.device_link) o.dev_links = {{"disk/by-partuuid/" + uuid, "../../null"}};
        auto r = firstboot(R, o);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->status, 0);
        EXPECT_EQ(r->err, c.log);
        EXPECT_EQ(support::standin_calls(R), c.calls);
        std::set<std::string> expected_markers;
        if (c.markers_kept) expected_markers = {"reencrypt-device", "reencrypt-key"};
        EXPECT_EQ(markers(R), expected_markers);
    }
}

// A disk image written straight onto fixed storage: "/" is an ext4 file
// system on a loop partition whose image file is enlarged after its GPT was
// written, as when an image is flashed onto a bigger disk.
struct FlashedDisk {
    std::optional<support::LoopDisk> disk;
    std::unique_ptr<support::Mounted> root;
};

std::expected<FlashedDisk, std::string> flash(std::uint64_t image_bytes, const std::string& table, std::uint32_t root_part,
                                              bool with_system) {
    FlashedDisk f;
    auto d = support::LoopDisk::create(image_bytes);
    if (!d) return std::unexpected(d.error());
    f.disk.emplace(std::move(*d));
    auto sf = support::run_command({"sfdisk", "-q", "--no-reread", f.disk->path()}, table);
    if (sf.exit_code != 0) return std::unexpected("sfdisk: " + sf.err);
    if (auto r = f.disk->refresh(); !r) return std::unexpected(r.error());
    auto mk = support::run_command({"mkfs.ext4", "-q", "-F", f.disk->part(root_part)});
    if (mk.exit_code != 0) return std::unexpected("mkfs.ext4: " + mk.err);
    auto m = support::Mounted::create(f.disk->part(root_part));
    if (!m) return std::unexpected(m.error());
    f.root = std::move(*m);
    const std::string R = f.root->path();
    if (with_system) {
        // What the grow step runs (partx, resize2fs) comes from the root itself.
        auto c = support::run_command({"cp", "-a", *support::debian_root() + "/.", R + "/"});
        if (c.exit_code != 0) return std::unexpected("cp: " + c.err);
    }
    stdfs::create_directories(R + STATE);
    write_file(R + STATE + "/install-pending", "");
    return f;
}

// Enlarges the image file and tells the loop device.
::testing::AssertionResult enlarge(const support::LoopDisk& disk, std::uint64_t bytes) {
    stdfs::resize_file(disk.image(), bytes);
    auto r = support::run_command({"losetup", "-c", disk.path()});
    if (r.exit_code != 0) return ::testing::AssertionFailure() << "losetup -c: " << r.err;
    return ::testing::AssertionSuccess();
}

// A number field of sfdisk's JSON, after `from`.
std::uint64_t json_number(const std::string& json, const std::string& key, std::size_t from = 0) {
    auto at = json.find("\"" + key + "\":", from);
    if (at == std::string::npos) return 0;
    return std::stoull(json.substr(at + key.size() + 3));
}

std::uint64_t dumpe2fs_field(const std::string& text, const std::string& field) {
    auto at = text.find("\n" + field + ":");
    if (at == std::string::npos) return 0;
    return std::stoull(text.substr(text.find_first_of("0123456789", at + field.size() + 2)));
}

// Growing a mounted ext4 needs CAP_SYS_RESOURCE; some sandboxes withhold it
// even from root.
bool can_resize_online() {
    std::istringstream in(read_file("/proc/self/status").value_or(""));
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with("CapEff:")) return (std::stoull(line.substr(7), nullptr, 16) >> 24) & 1;
    return false;
}

RootedOptions disk_nodes(const support::LoopDisk& disk, std::uint32_t parts) {
    RootedOptions o;
    o.dev_nodes = {disk.name()};
    for (std::uint32_t n = 1; n <= parts; ++n) o.dev_nodes.push_back(stdfs::path(disk.part(n)).filename().string());
    return o;
}

TEST_F(Firstboot, DirectlyFlashedRootGrowsToTheEndOfTheDisk) {
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    if (auto root = support::debian_root(); !root) GTEST_SKIP() << root.error();
    const std::uint64_t image = 400ull << 20, device = 1ull << 30;
    auto f = flash(image, "label: gpt\nstart=2048, type=L\n", 1, true);
    ASSERT_TRUE(f) << f.error();
    ASSERT_TRUE(enlarge(*f->disk, device));
    const std::string D = f->disk->path(), P = f->disk->part(1);

    auto r = firstboot(f->root->path(), disk_nodes(*f->disk, 1));
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->status, 0);
    const std::string log = "firstboot: root lives on fixed storage " + D + ", switching to the Configure flow\n" +
                            "firstboot: growing " + P + " to fill " + D + "\n";
    const bool online = can_resize_online();
    if (online) {
        EXPECT_EQ(r->err, log);
    } else {
        // The kernel refuses the online resize here; the failure is logged
        // and everything before it still happened.
        EXPECT_TRUE(r->err.starts_with(log + "firstboot: grow root: resize2fs exited with exit status: 1: "))
            << r->err;
    }
    EXPECT_EQ(markers(f->root->path()), std::set<std::string>{"configure-pending"});

    // The backup table moved to the real end, and the root reaches it.
    const std::uint64_t sectors = device / 512;
    auto js = support::run_command({"sfdisk", "--json", D});
    ASSERT_EQ(js.exit_code, 0) << js.err;
    EXPECT_EQ(json_number(js.out, "lastlba"), sectors - 34) << js.out;
    const std::uint64_t part_sectors = json_number(js.out, "size", js.out.find("\"partitions\""));
    EXPECT_EQ(part_sectors, sectors - 34 - 2048 + 1) << js.out;
    auto verify = support::run_command({"sgdisk", "-v", D});
    EXPECT_NE(verify.out.find("No problems found"), std::string::npos) << verify.out;
    // partx told the kernel about the new end.
    EXPECT_EQ(read_file("/sys/class/block/" + stdfs::path(P).filename().string() + "/size"),
              std::to_string(part_sectors) + "\n");
    if (!online) GTEST_SKIP() << "no CAP_SYS_RESOURCE: a mounted ext4 cannot be grown on this machine";
    // The mounted file system was grown to fill the partition.
    auto dump = support::run_command({"dumpe2fs", "-h", P});
    ASSERT_EQ(dump.exit_code, 0) << dump.err;
    const std::uint64_t block = dumpe2fs_field(dump.out, "Block size");
    ASSERT_GT(block, 0u);
    EXPECT_EQ(dumpe2fs_field(dump.out, "Block count"), part_sectors * 512 / block);
}

TEST_F(Firstboot, DirectlyFlashedRootLeftAsItIs) {
    if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
    struct Case {
        const char* name;
        std::string table;
        std::uint32_t root_part;
        std::uint32_t parts;
        std::uint64_t image, device;
        bool removable;
        std::string log_after; // after the fixed-storage line; "-" when nothing at all is logged
        bool switched;
    };
    const std::uint64_t MiB = 1 << 20;
    const std::vector<Case> cases = {
        {"disk only 50 MiB larger", "label: gpt\nstart=2048, type=L\n", 1, 1, 64 * MiB, 114 * MiB, false, "", true},
        {"root followed by another partition", "label: gpt\nstart=2048, size=40MiB, type=L\nsize=8MiB, type=L\n", 1, 2,
         64 * MiB, 256 * MiB, false, "", true},
        {"MBR disk", "label: dos\nstart=2048, type=83\n", 1, 1, 64 * MiB, 256 * MiB, false,
         "firstboot: grow root: no gpt on ", true},
        {"removable medium", "label: gpt\nstart=2048, type=L\n", 1, 1, 64 * MiB, 256 * MiB, true, "-", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = flash(c.image, c.table, c.root_part, false);
        ASSERT_TRUE(f) << f.error();
        auto before = support::run_command({"sfdisk", "--dump", f->disk->path()});
        ASSERT_TRUE(enlarge(*f->disk, c.device));
        auto o = disk_nodes(*f->disk, c.parts);
        if (c.removable) o.overrides = {{"/sys/block/" + f->disk->name() + "/removable", "1\n"}};
        auto r = firstboot(f->root->path(), o);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->status, 0);
        const std::string fixed =
            "firstboot: root lives on fixed storage " + f->disk->path() + ", switching to the Configure flow\n";
        if (c.log_after == "-") {
            EXPECT_EQ(r->err, "");
        } else if (c.log_after.empty()) {
            EXPECT_EQ(r->err, fixed);
        } else {
            EXPECT_TRUE(r->err.starts_with(fixed + c.log_after + f->disk->path() + ": ")) << r->err;
        }
        EXPECT_EQ(markers(f->root->path()),
                  c.switched ? std::set<std::string>{"configure-pending"} : std::set<std::string>{"install-pending"});
        // The table is as it was written.
        EXPECT_EQ(support::run_command({"sfdisk", "--dump", f->disk->path()}).out, before.out);
    }
}

} // namespace
