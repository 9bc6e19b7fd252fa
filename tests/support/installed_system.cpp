#include "support/installed_system.hpp"

#include "support/command.hpp"

#include <base/files.hpp>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace sfs = std::filesystem;

namespace support {

namespace {

std::string read(const std::string& path) { return base::read_file(path).value_or(""); }

void write(const std::string& path, const std::string& text, sfs::perms mode = sfs::perms(0644)) {
    sfs::create_directories(sfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    sfs::permissions(path, mode);
}

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Inside the copied system: logs, fails when asked to, and leaves the file
// the real program would.
std::string target_standin(const std::string& name, const std::string& effect = "") {
    return "#!/bin/sh\n# Stand-in for " + name + ": it cannot run on this machine.\n"
           "echo \"" + name + " $*\" >> /var/log/tavix-standins.log\n"
           "if [ -e /etc/tavix-test/fail-" + name + " ]; then echo \"" + name + " failed on purpose\" >&2; exit 1; fi\n" +
           effect;
}

} // namespace

void write_live_layer(const std::string& l, const std::string& scheme, const std::vector<std::string>& fail) {
    sfs::remove_all(l);
    write(l + "/var/lib/tavix-installer/install-pending", "");
    write(l + "/etc/ssh/ssh_host_ed25519_key", "old host key\n", sfs::perms(0600));
    const std::string sbin = l + "/usr/local/sbin/";
    write(sbin + "grub-install",
          target_standin("grub-install", "mkdir -p /boot/efi/EFI/BOOT && echo loader > /boot/efi/EFI/BOOT/BOOTAA64.EFI\n"),
          sfs::perms(0755));
    // update-grub picks the kernel's root the way grub-mkconfig does: by
    // UUID only when /dev/disk/by-uuid has the root's link, else by the
    // device it is mounted from.
    write(sbin + "update-grub",
          target_standin("update-grub",
                         "dev=$(findmnt -n -o SOURCE /)\n"
                         "uuid=$(blkid -o value -s UUID \"$dev\")\n"
                         "if [ -n \"$uuid\" ] && [ -e \"/dev/disk/by-uuid/$uuid\" ]; then r=UUID=$uuid; "
                         "else r=$dev; fi\n"
                         "mkdir -p /boot/grub && echo \"linux /vmlinuz root=$r ro\" > /boot/grub/grub.cfg\n"),
          sfs::perms(0755));
    for (const char* n : {"update-initramfs", "u-boot-update"})
        write(sbin + n, target_standin(n), sfs::perms(0755));
    write(sbin + "mkimage", target_standin("mkimage", "for a; do out=$a; done; echo image > \"$out\"\n"),
          sfs::perms(0755));
    for (const auto& f : fail) write(l + "/etc/tavix-test/fail-" + f, "");
    if (scheme == "extlinux") {
        write(l + "/boot/extlinux/extlinux.conf", "label tavix\n");
        write(l + "/etc/default/u-boot", "U_BOOT_PARAMETERS=\"quiet\"\n#U_BOOT_ROOT=\"root=/dev/mmcblk0p2\"\n");
    } else if (scheme == "bootscr") {
        write(l + "/boot/boot.scr", "old script\n");
        write(l + "/boot/boot.cmd", "setenv rootdev \"/dev/mmcblk0p2\"\nbooti ${kernel_addr_r}\n");
        write(l + "/boot/env.txt", "verbosity=1\nrootdev=/dev/mmcblk0p2\n");
        write(l + "/boot/initrd.img-6.1.0", "initrd\n");
    }
}

void look_inside(const std::string& node, const std::string& out, std::uint64_t offset) {
    const std::string mnt = out + ".mnt";
    sfs::create_directories(out);
    sfs::create_directories(mnt);
    const std::string options = offset ? "ro,offset=" + std::to_string(offset) : std::string("ro");
    auto r = run_command(
        {"unshare", "-m", "--propagation", "private", "sh", "-c",
         "mount -o \"$1\" \"$2\" \"$3\" && cd \"$3\" && "
         "cp -a --parents etc var/lib/tavix-installer var/log/tavix-standins.log home boot extlinux \"$4\" "
         "2>/dev/null; stat -c '%s %a' swapfile > \"$4/swapfile.stat\" 2>/dev/null; "
         "ls -A > \"$4/top.list\"; true",
         "sh", options, node, mnt, out});
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

nlohmann::json sfdisk_table(const std::string& disk) {
    auto r = run_command({"sfdisk", "--json", disk});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.exit_code == 0 ? nlohmann::json::parse(r.out)["partitiontable"] : nlohmann::json{};
}

std::string blkid_tag(const std::string& node, const std::string& tag) {
    return trim(run_command({"blkid", "-p", "-o", "value", "-s", tag, node}).out);
}

void check_installed_root(const std::string& t, const InstalledSetup& s) {
    // The account: the image's user renamed, home moved, password set.
    const std::string passwd = read(t + "/etc/passwd");
    EXPECT_NE(passwd.find("\n" + s.user + ":x:1000:1000:"), std::string::npos) << passwd;
    EXPECT_NE(passwd.find(":/home/" + s.user + ":"), std::string::npos) << passwd;
    EXPECT_EQ(passwd.find("vessara"), std::string::npos) << passwd;
    EXPECT_TRUE(sfs::is_directory(t + "/home/" + s.user));
    EXPECT_NE(read(t + "/etc/group").find("sudo:x:27:" + s.user), std::string::npos);
    const std::string shadow = read(t + "/etc/shadow");
    const auto at = shadow.find("\n" + s.user + ":");
    ASSERT_NE(at, std::string::npos) << shadow;
    const auto from = at + s.user.size() + 2;
    const std::string hash = shadow.substr(from, shadow.find(':', from) - from);
    auto verify = run_command({"python3", "-W", "ignore", "-c",
                               "import crypt,sys; sys.exit(crypt.crypt(sys.argv[1], sys.argv[2]) != sys.argv[2])",
                               s.password, hash});
    EXPECT_EQ(verify.exit_code, 0) << "the password verifies against " << hash;
    EXPECT_EQ(read(t + "/etc/hostname"), s.hostname + "\n");
    EXPECT_NE(read(t + "/etc/hosts").find("127.0.1.1\t" + s.hostname + "\n"), std::string::npos);
    // Language.
    EXPECT_EQ(read(t + "/etc/default/locale"), "LANG=" + s.lang + "\n");
    EXPECT_NE(read(t + "/etc/locale.gen").find(s.lang + " UTF-8\n"), std::string::npos);
    EXPECT_EQ(read(t + "/etc/timezone"), s.timezone + "\n");
    EXPECT_NE(read(t + "/etc/default/keyboard").find("XKBLAYOUT=\"" + s.keyboard + "\"\n"), std::string::npos);
    // A machine of its own: new identity and host keys.
    EXPECT_EQ(read(t + "/etc/machine-id"), "");
    const std::string key = read(t + "/etc/ssh/ssh_host_ed25519_key");
    EXPECT_NE(key, "old host key\n");
    EXPECT_NE(key.find("OPENSSH PRIVATE KEY"), std::string::npos);
    // Markers: configured on the next boot, never installed from again.
    EXPECT_TRUE(sfs::exists(t + "/var/lib/tavix-installer/configure-pending"));
    EXPECT_FALSE(sfs::exists(t + "/var/lib/tavix-installer/install-pending"));
    // Nothing of the live session's mounts came along.
    EXPECT_EQ(read(t + "/top.list").find("host-root"), std::string::npos);
}

} // namespace support
