#include "install/engine_pending.hpp"

#include "install/command.hpp"
#include "fs/process.hpp"
#include "disks/disks.hpp"

#include "platform/system_paths.hpp"

#include <cstdio>
#include <sys/stat.h>

namespace platform {

BootScheme detect_boot_scheme() {
    const auto& p = platform::paths();
    struct stat st {};
    if (::stat((p.sys + "/firmware/efi").c_str(), &st) == 0) return BootScheme::Efi;
    const std::string host = p.host_root.ends_with('/') ? p.host_root : p.host_root + "/";
    if (::stat((host + "boot/extlinux/extlinux.conf").c_str(), &st) == 0) return BootScheme::Extlinux;
    if (::stat((host + "boot/boot.scr").c_str(), &st) == 0) return BootScheme::BootScr;
    return BootScheme::Efi;
}
std::expected<void, std::string> copy_uboot_area(const std::string&, const std::string&) {
    return std::unexpected(std::string("copying the u-boot area is not built yet"));
}
std::expected<void, std::string> set_uboot_root(const std::string&, const std::string&) {
    return std::unexpected(std::string("extlinux root is not built yet"));
}
std::expected<void, std::string> update_boot_scr(const std::string&, const std::string&) {
    return std::unexpected(std::string("boot script root is not built yet"));
}
std::expected<void, std::string> make_uinitrd(const std::string&) {
    return std::unexpected(std::string("uInitrd is not built yet"));
}

} // namespace platform

namespace install {

static std::optional<std::uint64_t> parse_df_output(const std::string& raw) {
    const std::string out = fs::lossy_utf8(raw);
    const auto first_end = out.find('\n');
    if (first_end == std::string::npos) return std::nullopt;
    const auto second_end = out.find('\n', first_end + 1);
    const std::string second = out.substr(first_end + 1, second_end == std::string::npos
                                                             ? std::string::npos
                                                             : second_end - first_end - 1);
    const std::string value = fs::trim(second);
    if (value.empty()) return std::nullopt;
    return disks::parse_unsigned(value);
}

std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column) {
    auto r = fs::capture({"df", "-B1", "--output=" + column, path});
    if (!r || !r->exited_ok()) return std::nullopt;
    return parse_df_output(r->out);
}


std::expected<std::string, std::string> setup_luks(const std::string&, const std::string&) {
    return std::unexpected(std::string("encryption is not built yet"));
}
bool clevis_bound(const std::string&) { return false; }
void drop_clevis_hook(const std::string&) {}
void close_crypt() { (void)run({"cryptsetup", "close", "tavix_crypt"}); }

std::optional<std::string> blkid_uuid(const std::string&) { return std::nullopt; }
std::expected<void, std::string> write_fstab(const TargetLayout& layout) {
    return std::unexpected("no UUID for " + layout.root);
}
void reset_machine_id() {}
void enable_os_prober() {}
void apply_locale(const std::string& root, const std::string& code) {
    std::fprintf(stderr, "install: applying locale %s to %s is not built yet\n", code.c_str(), root.c_str());
}
std::expected<void, std::string> apply_account(const std::string&, const ipc::AccountSetup&) {
    return std::unexpected(std::string("account setup is not built yet"));
}
void make_swapfile() {}
void regenerate_ssh_keys() {}
void write_markers() {}

std::string crypttab_options(const std::string&) { return "luks,discard"; }
bool tpm_present() { return false; }
std::expected<void, std::string> check_account_text(std::string_view, std::string_view, std::string_view) {
    return {};
}

std::expected<void, std::string> stage_account(const std::string&, const std::string&, const std::string&,
                                               bool) {
    return std::unexpected(std::string("account staging is not built yet"));
}

} // namespace install
