#include "install/encryption.hpp"

#include <base/files.hpp>
#include <base/utf8.hpp>

#include <base/process.hpp>
#include "install/command.hpp"
#include "install/target_layout.hpp"
#include "install/text_files.hpp"
#include "platform/system_paths.hpp"

#include <cstdio>
#include <sys/stat.h>

namespace install {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void log_line(const std::string& line) {
    const std::string text = line + "\n";
    std::fputs(text.c_str(), stderr);
}

} // namespace

std::expected<std::string, std::string> setup_luks(const std::string& node, const std::string& password) {
    const std::string name(CRYPT_NAME);
    if (auto r = run_with_stdin({"cryptsetup", "luksFormat", "--type", "luks2", "--batch-mode", "--key-file", "-", node},
                                password);
        !r)
        return std::unexpected(r.error());
    if (auto r = run_with_stdin({"cryptsetup", "open", "--key-file", "-", node, name}, password); !r)
        return std::unexpected(r.error());
    const std::string device(CRYPT_DEVICE);
    if (auto r = wait_for_node(device); !r) return std::unexpected(r.error());
    if (tpm_present()) {
        auto r = run_with_stdin({"clevis", "luks", "bind", "-f", "-k", "-", "-d", node, "tpm2", std::string(TPM2_PIN_CONFIG)},
                                password);
        if (!r) log_line("install: TPM bind failed, boot will ask for the password: " + r.error());
    } else {
        log_line("install: no TPM 2.0 present, boot will ask for the password");
    }
    return device;
}

bool tpm_present() {
    const auto& p = platform::paths();
    if (exists(p.dev + "/tpmrm0")) return true;
    auto major = base::read_file(p.sys + "/class/tpm/tpm0/tpm_version_major");
    return major && std::string(base::utf8::trim(*major)) == "2";
}

bool clevis_bound(const std::string& node) {
    auto c = base::capture({"clevis", "luks", "list", "-d", node});
    if (!c) return false;
    return !std::string(base::utf8::trim(base::utf8::lossy(c->out))).empty();
}

void drop_clevis_hook(const std::string& root) {
    log_line("install: nothing bound to a TPM, removing the clevis initramfs hook");
    if (auto r = run({"chroot", root, "apt-get", "-y", "--purge", "remove", "clevis-initramfs"}); !r)
        log_line("install: could not remove clevis-initramfs: " + r.error());
}

void close_crypt() { (void)run({"cryptsetup", "close", std::string(CRYPT_NAME)}); }

std::string crypttab_options(const std::string& root) {
    std::string options = "luks,discard";
    if (!tpm_present() && exists(join(root, KEYSCRIPT))) options += ",keyscript=" + std::string(KEYSCRIPT);
    return options;
}

} // namespace install
