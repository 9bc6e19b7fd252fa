#include "install/engine.hpp"

#include "install/encryption.hpp"
#include "install/pipeline.hpp"

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace install {

namespace {

using namespace std::chrono_literals;
using ipc::InstallPhase;

void store_outcome(const InstallHandle& handle, const std::expected<void, std::string>& outcome) {
    handle->update([&](InstallSnapshot& s) {
        if (outcome) {
            s.fraction = 1.0f;
            s.done = true;
        } else {
            s.error = outcome.error();
        }
    });
}

} // namespace

void set_progress(const InstallHandle& handle, InstallPhase phase, float fraction) {
    handle->update([&](InstallSnapshot& s) {
        s.phase = phase;
        s.fraction = fraction;
    });
}

std::expected<void, std::string> check_cancelled() {
    if (CANCEL_FLAG.load()) return std::unexpected(std::string("cancelled"));
    return {};
}

std::expected<void, std::string> run_simulated(const InstallHandle& handle) {
    set_progress(handle, InstallPhase::Partition, 0.01f);
    std::this_thread::sleep_for(800ms);
    if (auto c = check_cancelled(); !c) return c;
    set_progress(handle, InstallPhase::Format, 0.05f);
    std::this_thread::sleep_for(800ms);
    if (auto c = check_cancelled(); !c) return c;
    set_progress(handle, InstallPhase::Copy, 0.10f);
    std::this_thread::sleep_for(300ms);
    for (int p = 15; p <= 85; p += 5) {
        if (auto c = check_cancelled(); !c) return c;
        set_progress(handle, InstallPhase::Copy, static_cast<float>(p) / 100.0f);
        std::this_thread::sleep_for(300ms);
    }
    set_progress(handle, InstallPhase::Bootloader, 0.90f);
    std::this_thread::sleep_for(1200ms);
    if (auto c = check_cancelled(); !c) return c;
    set_progress(handle, InstallPhase::Finalize, 0.96f);
    std::this_thread::sleep_for(800ms);
    return {};
}

void run_engine(const ipc::InstallPlan& plan, const InstallHandle& handle, const Pipeline& pipeline) {
    std::expected<void, std::string> outcome;
    try {
        if (plan.test) {
            outcome = run_simulated(handle);
        } else {
            MountList mounts;
            try {
                outcome = pipeline(plan, handle, mounts);
            } catch (const std::exception& e) {
                outcome = std::unexpected(std::string("install: ") + e.what());
            }
            // Released before the outcome is published: a reader that sees
            // the error may take the disk back.
            unmount_all(mounts);
            if (plan.encrypt) close_crypt();
        }
    } catch (const std::exception& e) {
        outcome = std::unexpected(std::string("install: ") + e.what());
    }
    store_outcome(handle, outcome);
}

InstallHandle start(ipc::InstallPlan plan) {
    CANCEL_FLAG.store(false);
    auto handle = std::make_shared<InstallStatus>();
    try {
        std::thread([plan = std::move(plan), handle]() mutable {
            run_engine(plan, handle, run_install);
        }).detach();
    } catch (const std::exception& e) {
        handle->update([&](InstallSnapshot& s) { s.error = std::string("start install: ") + e.what(); });
    }
    return handle;
}

} // namespace install
