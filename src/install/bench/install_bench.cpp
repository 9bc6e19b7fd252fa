// Installs a source tree of a little over 1 GB through the engine's real
// pipeline onto a loop disk, copies the same tree with a bare
// "rsync -aHAX" onto an identical, freshly formatted target, and prints both
// times and their ratio. Needs root and loop devices.
//
// The tree is a Debian root (the tests' debootstrap tree) padded with large
// and small files, on a tmpfs so that both copies read it at the same speed.
// It boots as an extlinux board, whose boot-loader step runs inside the copy
// (a logging stand-in for u-boot-update and update-initramfs there).

#include <base/units.hpp>
#include "install/engine.hpp"
#include "install/pipeline.hpp"
#include "platform/system_paths.hpp"
#include "support/debian_root.hpp"
#include "support/loop_disk.hpp"
#include "support/mounts.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <atomic>
#include <expected>
#include <optional>
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

using base::MIB;

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


// The engine's whole install onto a fresh loop disk; its time in seconds.
std::expected<double, int> engine_run() {
    auto disk = support::LoopDisk::create(4096 * MIB);
    if (!disk) {
        std::fprintf(stderr, "install_bench: loop disk: %s\n", disk.error().c_str());
        return std::unexpected(1);
    }
    ipc::InstallPlan plan;
    plan.disk = disk->path();
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
    const auto start = Clock::now();
    auto outcome = install::run_install(plan, handle, mounts);
    const auto end = Clock::now();
    running.store(false);
    watch.join();
    install::unmount_all(mounts);
    if (!outcome) {
        std::fprintf(stderr, "install_bench: install failed: %s\n", outcome.error().c_str());
        return std::unexpected(1);
    }
    auto phase = [&](ipc::InstallPhase p, std::optional<ipc::InstallPhase> next) {
        auto a = phase_start.find(p);
        if (a == phase_start.end()) return 0.0;
        if (!next) return seconds(end - a->second);
        auto b = phase_start.find(*next);
        return b == phase_start.end() ? 0.0 : seconds(b->second - a->second);
    };
    using P = ipc::InstallPhase;
    std::printf("  engine: partition %.2f, format %.2f, copy %.2f, boot loader %.2f, finalize and sync %.2f s\n",
                phase(P::Partition, P::Format), phase(P::Format, P::Copy), phase(P::Copy, P::Bootloader),
                phase(P::Bootloader, P::Finalize), phase(P::Finalize, std::nullopt));
    return seconds(end - start);
}

// The same layout and file system on a fresh loop disk, then the bare copy
// and sync; the copy's time in seconds.
std::expected<double, int> bare_run(const std::string& source, const std::string& mount_point) {
    auto disk = support::LoopDisk::create(4096 * MIB);
    if (!disk) {
        std::fprintf(stderr, "install_bench: loop disk: %s\n", disk.error().c_str());
        return std::unexpected(1);
    }
    // The engine's layout for an extlinux board: one root from 16 MiB on.
    if (!must(support::run_command({"sfdisk", "-q", disk->path()}, "label: gpt\nstart=32768,type=L\n"), "sfdisk"))
        return std::unexpected(1);
    if (!disk->refresh()) return std::unexpected(1);
    if (!must(support::run_command({"mkfs.ext4", "-F", "-q", "-L", "tavix-root", disk->part(1)}), "mkfs"))
        return std::unexpected(1);
    sfs::create_directories(mount_point);
    if (!must(support::run_command({"mount", disk->part(1), mount_point}), "mount")) return std::unexpected(1);
    const auto start = Clock::now();
    const bool copied = must(support::run_command({"rsync", "-aHAX", source + "/", mount_point + "/"}), "rsync") &&
                        must(support::run_command({"sync"}), "sync");
    const auto end = Clock::now();
    (void)support::run_command({"umount", mount_point});
    if (!copied) return std::unexpected(1);
    return seconds(end - start);
}

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
    support::TempDir work;
    const std::string source = work / "source";
    sfs::create_directories(source);
    if (!must(support::run_command({"mount", "-t", "tmpfs", "-o", "size=3g,mode=0755", "tmpfs", source}), "tmpfs"))
        return 1;
    // Unmounted on every way out, before the scratch directory goes.
    struct Unmount {
        std::string path;
        ~Unmount() { (void)support::run_command({"umount", "-l", path}); }
    } unmount_source{source};
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

    platform::SystemPaths paths = platform::paths();
    paths.host_root = source;
    paths.target_root = work / "target";
    // As on a live medium, "/" is an overlay: no disk of its own whose U-Boot
    // area would be copied.
    write_file(work / "proc/self/mounts", "overlay / overlay rw 0 0\n");
    paths.proc = work / "proc";
    platform::set_paths(paths);

    // Other work on the machine disturbs single runs: a few rounds, the
    // order of the two alternating, and the median of the ratios.
    constexpr int ROUNDS = 3;
    std::vector<double> ratios;
    for (int round = 0; round < ROUNDS; ++round) {
        double engine_s = 0, bare_s = 0;
        bool ok = true;
        auto run_engine = [&] {
            auto r = engine_run();
            ok &= r.has_value();
            if (r) engine_s = *r;
        };
        auto run_bare = [&] {
            auto r = bare_run(source, work / ("bare-" + std::to_string(round)));
            ok &= r.has_value();
            if (r) bare_s = *r;
        };
        if (round % 2 == 0) {
            run_engine();
            run_bare();
        } else {
            run_bare();
            run_engine();
        }
        if (!ok) return 1;
        ratios.push_back(engine_s / bare_s);
        std::printf("round %d: engine %.2f s, bare %.2f s, ratio %.3f\n", round + 1, engine_s, bare_s,
                    engine_s / bare_s);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("ratio engine / bare (median of %d): %.3f\n", ROUNDS, ratios[ROUNDS / 2]);
    return 0;
}
