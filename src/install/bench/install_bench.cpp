// Installs a source tree of a little over 1 GB through the engine's real
// pipeline onto a loop disk, copies the same tree with a bare
// "rsync -aHAX" onto an identical, freshly formatted target, and prints both
// times and their ratio. Needs root and loop devices.
//
// The tree is a Debian root (the tests' debootstrap tree) padded with large
// and small files, on a tmpfs so that both copies read it at the same speed.
// It boots as an extlinux board, whose boot-loader step runs inside the copy
// (a logging stand-in for u-boot-update and update-initramfs there).

#include "install/engine.hpp"
#include "install/pipeline.hpp"
#include "platform/system_paths.hpp"
#include "support/debian_root.hpp"
#include "support/loop_disk.hpp"
#include "support/loop_image.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace sfs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t MIB = 1ull << 20;

bool must(const support::CommandResult& r, const char* what) {
    if (r.exit_code == 0) return true;
    std::fprintf(stderr, "install_bench: %s failed: %s%s\n", what, r.out.c_str(), r.err.c_str());
    return false;
}

void write_file(const std::string& path, const std::string& text, sfs::perms mode = sfs::perms(0644)) {
    sfs::create_directories(sfs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    sfs::permissions(path, mode);
}

// Fills `dir` with pseudo-random data: `big` files of `big_bytes` and
// `small` files of 8 KiB spread over subdirectories.
void pad(const std::string& dir, int big, std::uint64_t big_bytes, int small) {
    std::mt19937_64 rng(42);
    std::vector<std::uint64_t> block(MIB / 8);
    for (int i = 0; i < big; ++i) {
        const std::string path = dir + "/big/blob-" + std::to_string(i);
        sfs::create_directories(sfs::path(path).parent_path());
        std::ofstream out(path, std::ios::binary);
        for (std::uint64_t done = 0; done < big_bytes; done += MIB) {
            for (auto& w : block) w = rng();
            out.write(reinterpret_cast<const char*>(block.data()), MIB);
        }
    }
    std::string small_data(8192, '\0');
    for (int i = 0; i < small; ++i) {
        for (auto& c : small_data) c = char(rng());
        const std::string path = dir + "/small/d" + std::to_string(i / 100) + "/f" + std::to_string(i);
        sfs::create_directories(sfs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << small_data;
    }
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

int main() {
    if (auto why = support::LoopDisk::unavailable()) {
        std::fprintf(stderr, "install_bench: %s\n", why->c_str());
        return 1;
    }
    auto tree = support::debian_root();
    if (!tree) {
        std::fprintf(stderr, "install_bench: %s\n", tree.error().c_str());
        return 1;
    }
    if (auto r = support::enter_private_mounts(); !r) {
        std::fprintf(stderr, "install_bench: %s\n", r.error().c_str());
        return 1;
    }
    support::ScratchDir work;
    const std::string source = work / "source";
    sfs::create_directories(source);
    if (!must(support::run_command({"mount", "-t", "tmpfs", "-o", "size=3g,mode=0755", "tmpfs", source}), "tmpfs"))
        return 1;
    if (auto r = support::copy_debian_root(source); !r) {
        std::fprintf(stderr, "install_bench: copy tree: %s\n", r.error().c_str());
        return 1;
    }
    write_file(source + "/boot/extlinux/extlinux.conf", "label tavix\n");
    write_file(source + "/var/lib/tavix-installer/install-pending", "");
    for (const char* n : {"u-boot-update", "update-initramfs"})
        write_file(source + "/usr/local/sbin/" + n,
                   std::string("#!/bin/sh\n# Stand-in: cannot run on this machine.\necho \"") + n +
                       " $*\" >> /var/log/tavix-standins.log\n",
                   sfs::perms(0755));
    pad(source, 48, 20 * MIB, 5000);
    auto du = support::run_command({"du", "-sb", source});
    std::printf("source tree: %s bytes\n", du.out.substr(0, du.out.find('\t')).c_str());

    auto engine_disk = support::LoopDisk::create(4096 * MIB);
    auto bare_disk = support::LoopDisk::create(4096 * MIB);
    if (!engine_disk || !bare_disk) {
        std::fprintf(stderr, "install_bench: loop disk: %s\n",
                     (!engine_disk ? engine_disk.error() : bare_disk.error()).c_str());
        return 1;
    }

    // The engine: the whole pipeline, partitioning to sync.
    platform::SystemPaths paths = platform::paths();
    paths.host_root = source;
    paths.target_root = work / "target";
    // As on a live medium, "/" is an overlay: no disk of its own whose U-Boot
    // area would be copied.
    write_file(work / "proc/self/mounts", "overlay / overlay rw 0 0\n");
    paths.proc = work / "proc";
    platform::set_paths(paths);
    ipc::InstallPlan plan;
    plan.disk = engine_disk->path();
    plan.mode = ipc::TargetMode::WholeDisk{};
    plan.locale = "en";
    plan.account = ipc::AccountSetup{"bench", "benchbox", "bench password"};
    auto handle = std::make_shared<install::InstallStatus>();
    install::MountList mounts;
    std::map<ipc::InstallPhase, Clock::time_point> phase_start;
    std::atomic<bool> running{true};
    std::thread watch([&] {
        while (running.load()) {
            auto s = handle->snapshot();
            phase_start.try_emplace(s.phase, Clock::now());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto engine_start = Clock::now();
    auto outcome = install::run_install(plan, handle, mounts);
    const auto engine_end = Clock::now();
    running.store(false);
    watch.join();
    install::unmount_all(mounts);
    if (!outcome) {
        std::fprintf(stderr, "install_bench: install failed: %s\n", outcome.error().c_str());
        return 1;
    }

    // The bare copy: the same table and file system, then rsync and sync.
    auto dump = support::run_command({"sfdisk", "--dump", engine_disk->path()});
    std::string script;
    for (std::size_t at = 0; at < dump.out.size();) {
        auto nl = dump.out.find('\n', at);
        std::string line = dump.out.substr(at, nl - at);
        at = nl == std::string::npos ? dump.out.size() : nl + 1;
        // Identifiers and device names differ; the layout is the same.
        if (line.starts_with("label-id:") || line.starts_with("device:")) continue;
        auto uuid = line.find(", uuid=");
        if (uuid != std::string::npos) line.erase(uuid, line.find(',', uuid + 1) - uuid);
        script += line + "\n";
    }
    if (!must(support::run_command({"sfdisk", "-q", bare_disk->path()}, script), "sfdisk")) return 1;
    if (!bare_disk->refresh()) return 1;
    if (!must(support::run_command({"mkfs.ext4", "-F", "-q", "-L", "tavix-root", bare_disk->part(1)}), "mkfs"))
        return 1;
    const std::string bare_root = work / "bare";
    sfs::create_directories(bare_root);
    if (!must(support::run_command({"mount", bare_disk->part(1), bare_root}), "mount")) return 1;
    const auto bare_start = Clock::now();
    bool copied = must(support::run_command({"rsync", "-aHAX", source + "/", bare_root + "/"}), "rsync") &&
                  must(support::run_command({"sync"}), "sync");
    const auto bare_end = Clock::now();
    (void)support::run_command({"umount", bare_root});
    (void)support::run_command({"umount", source});
    if (!copied) return 1;

    const double engine_s = seconds(engine_end - engine_start);
    const double bare_s = seconds(bare_end - bare_start);
    auto phase = [&](ipc::InstallPhase p, ipc::InstallPhase next) {
        auto a = phase_start.find(p), b = phase_start.find(next);
        return a == phase_start.end() || b == phase_start.end() ? 0.0 : seconds(b->second - a->second);
    };
    std::printf("engine install: %.2f s (partition %.2f, format %.2f, copy %.2f, boot loader %.2f, finalize %.2f)\n",
                engine_s, phase(ipc::InstallPhase::Partition, ipc::InstallPhase::Format),
                phase(ipc::InstallPhase::Format, ipc::InstallPhase::Copy),
                phase(ipc::InstallPhase::Copy, ipc::InstallPhase::Bootloader),
                phase(ipc::InstallPhase::Bootloader, ipc::InstallPhase::Finalize),
                phase_start.count(ipc::InstallPhase::Finalize)
                    ? seconds(engine_end - phase_start[ipc::InstallPhase::Finalize])
                    : 0.0);
    std::printf("bare rsync -aHAX + sync: %.2f s\n", bare_s);
    std::printf("ratio engine / bare: %.3f\n", engine_s / bare_s);
    return 0;
}
