#pragma once
// What the disk tests share: running the reference tools over a device and
// reading their verdicts.

#include "support/loop_disk.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace disks_test {

using support::run_command;

// Writes a table with sfdisk from its script language.
inline void sfdisk_script(const std::string& dev, const std::string& script) {
    auto r = run_command({"sfdisk", "-q", "--no-reread", "--no-tell-kernel", "-f", dev}, script);
    ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
}

// sfdisk's view of the table as JSON ("partitiontable" object).
inline nlohmann::json sfdisk_json(const std::string& dev) {
    auto r = run_command({"sfdisk", "--json", dev});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    if (r.exit_code != 0) return nlohmann::json::object();
    return nlohmann::json::parse(r.out)["partitiontable"];
}

// sgdisk's verification; empty when the GPT is sound, its complaint otherwise.
inline std::string sgdisk_problems(const std::string& dev) {
    auto r = run_command({"sgdisk", "-v", dev});
    if (r.exit_code == 0 && r.out.find("No problems found") != std::string::npos) return {};
    return "sgdisk -v exit " + std::to_string(r.exit_code) + ":\n" + r.out + r.err;
}

// blkid's low-level probe of the partition table type ("gpt", "dos", or "").
inline std::string blkid_pttype(const std::string& dev) {
    auto r = run_command({"blkid", "-p", "-o", "value", "-s", "PTTYPE", dev});
    std::string t = r.out;
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    return t;
}

// partx's reading of the table: number, start and size in bytes (partx
// counts 512-byte sectors whatever the device's sector size).
inline std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> partx_ranges(const std::string& dev) {
    std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> out;
    auto r = run_command({"partx", "--show", "-g", "-o", "NR,START,SECTORS", dev});
    std::istringstream in(r.out);
    std::uint32_t n = 0;
    std::uint64_t start = 0, size = 0;
    while (in >> n >> start >> size) out.emplace_back(n, start * 512, size * 512);
    return out;
}

// The device's bytes as one digest.
using support::sha256;

} // namespace disks_test
