#include "install/staging.hpp"

#include <base/error.hpp>
#include <base/files.hpp>
#include <base/utf8.hpp>

#include "disks/disks.hpp"
#include <base/process.hpp>
#include "install/boot_platform.hpp"
#include "install/command.hpp"
#include "install/encryption.hpp"
#include "install/target_config.hpp"
#include "install/text_files.hpp"
#include "platform/system_paths.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace install {

std::optional<std::string> root_source() {
    auto mounts = base::read_file(platform::paths().proc + "/self/mounts");
    if (!mounts) return std::nullopt;
    for (const auto& line : split_lines(*mounts)) {
        std::istringstream in(line);
        std::string source, mount_point;
        if (!(in >> source >> mount_point) || mount_point != "/") continue;
        if (source.starts_with("/dev/")) return source;
        return std::nullopt;
    }
    return std::nullopt;
}

std::expected<void, std::string> write_private(const std::string& path, const std::string& content) {
    // The file is private before it holds anything: created 0600, or, when it
    // already exists with other bits, emptied and restricted before the write.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return std::unexpected("write " + path + ": " + base::errno_text(errno));
    if (::fchmod(fd, 0600) != 0) {
        int err = errno;
        ::close(fd);
        return std::unexpected("chmod " + path + ": " + base::errno_text(err));
    }
    if (int err = base::write_all(fd, content)) {
        ::close(fd);
        return std::unexpected("write " + path + ": " + base::errno_text(err));
    }
    if (::close(fd) != 0 && errno != EINTR) return std::unexpected("write " + path + ": " + base::errno_text(errno));
    return {};
}

std::expected<void, std::string> stage_account(const std::string& username, const std::string& hostname,
                                               const std::string& password, bool encrypt) {
    // One value per line: a value holding a line break would shift the others.
    if (auto r = check_account_text(username, hostname, password); !r) return r;
    const auto& p = platform::paths();
    if (auto r = write_private(p.marker("account-staged"), username + "\n" + hostname + "\n" + password + "\n"); !r)
        return r;
    if (!encrypt) return {};

    auto root = root_source();
    if (!root) return std::unexpected(std::string("cannot resolve the root partition"));
    if (root->find("/mapper/") != std::string::npos || disks::blkid_type(*root) == "crypto_LUKS")
        return std::unexpected(std::string("the root is already encrypted"));
    auto c = base::capture({"blkid", "-o", "value", "-s", "PARTUUID", *root});
    std::string partuuid;
    if (c && c->exited_ok()) partuuid = std::string(base::utf8::trim(base::utf8::lossy(c->out)));
    if (partuuid.empty()) return std::unexpected("no PARTUUID for " + *root);

    if (auto r = write_private(p.marker("reencrypt-key"), password); !r) return r;
    if (auto r = write_private(p.marker("reencrypt-device"), partuuid); !r) return r;

    const std::string line = std::string(CRYPT_NAME) + "\tPARTUUID=" + partuuid + "\tnone\t" +
                             crypttab_options(p.host_root) + "\n";
    if (auto r = write_text(join(p.host_root, "etc/crypttab"), line); !r)
        return std::unexpected("write crypttab: " + r.error());

    if (auto r = run({"update-initramfs", "-u"}); !r) return r;
    if (platform::detect_boot_scheme() == platform::BootScheme::BootScr)
        if (auto r = platform::make_uinitrd(p.host_root); !r) return r;
    return {};
}

} // namespace install
