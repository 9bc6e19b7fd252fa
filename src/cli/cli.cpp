#include "cli/cli.hpp"

#include <base/files.hpp>
#include <base/utf8.hpp>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace cli {

const std::string_view USAGE =
    "Usage: tavix-installer [OPTIONS]\n"
    "       tavix-installer daemon\n"
    "       tavix-installer firstboot\n"
    "\n"
    "Subcommands:\n"
    "  daemon              Run the privileged backend (root). Started by\n"
    "                      tavix-installer-daemon.service; executes installs\n"
    "                      and marker swaps on behalf of the wizard.\n"
    "  firstboot           Run the first-boot fixups (root): direct-flash\n"
    "                      detection, the staged account rename and the\n"
    "                      re-encryption follow-up. Started as ExecStartPre\n"
    "                      of the daemon unit, before any session exists.\n"
    "\n"
    "Options:\n"
    "  --windowsize WxH    Open a centred window of the given pixel size\n"
    "                      (e.g. --windowsize 1600x900). Defaults to fullscreen.\n"
    "  --test              Walk the full wizard without touching the machine:\n"
    "                      disk operations, wifi connects and the install\n"
    "                      itself are simulated.\n"
    "  --install           Force the install scenario (target disk + system\n"
    "                      copy). Default when the configure-pending marker\n"
    "                      is absent.\n"
    "  --configure         Force the first-boot configure scenario (wireless,\n"
    "                      navigation, storage, permissions, security,\n"
    "                      tutorials). Default when the marker written by a\n"
    "                      finished install is present.\n"
    "  -h, --help          Print this help and exit.\n";

std::vector<std::string_view> split_window_size(std::string_view value) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == 'x' || c == 'X' || c == '*') {
            pieces.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    pieces.push_back(value.substr(start));
    return pieces;
}

namespace {

// An unsigned 32-bit decimal: an optional single "+", then ASCII digits.
std::optional<std::uint32_t> read_u32(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    for (char c : s)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint32_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

Exit error(std::string line) { return Exit{2, {}, line + "\n"}; }

// Bytes that are not UTF-8 cannot name any option: they are shown lossily.
Exit unknown(std::string_view arg) {
    return Exit{2, {}, "error: unknown argument " + base::utf8::lossy(arg) + "\n" + std::string(USAGE)};
}

} // namespace

std::expected<std::pair<std::uint32_t, std::uint32_t>, std::string> parse_window_size(std::string_view value) {
    auto pieces = split_window_size(value);
    if (pieces.size() != 2)
        return std::unexpected("error: --windowsize must be WxH (got " + std::string(value) + ")");
    auto w = read_u32(base::utf8::trim(pieces[0]));
    if (!w) return std::unexpected("error: --windowsize: bad width " + std::string(pieces[0]));
    auto h = read_u32(base::utf8::trim(pieces[1]));
    if (!h) return std::unexpected("error: --windowsize: bad height " + std::string(pieces[1]));
    if (*w == 0 || *h == 0)
        return std::unexpected("error: --windowsize must be positive, got " + std::to_string(*w) + "x" +
                               std::to_string(*h));
    return std::pair{*w, *h};
}

std::expected<Cli, Exit> parse_args(std::span<const std::string> args) {
    Cli cli;
    constexpr std::string_view prefix = "--windowsize=";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!base::utf8::is_valid(a)) return std::unexpected(unknown(a));
        if (a == "-h" || a == "--help") return std::unexpected(Exit{0, std::string(USAGE), {}});
        if (a == "daemon") {
            cli.daemon = true;
        } else if (a == "firstboot") {
            cli.firstboot = true;
        } else if (a == "--test") {
            cli.test = true;
        } else if (a == "--install") {
            cli.scenario = Scenario::Install;
        } else if (a == "--configure") {
            cli.scenario = Scenario::Configure;
        } else if (a == "--windowsize" || a.starts_with(prefix)) {
            std::string_view value;
            if (a == "--windowsize") {
                if (i + 1 == args.size())
                    return std::unexpected(error("error: --windowsize expects a value like 1600x900"));
                const std::string& next = args[++i];
                if (!base::utf8::is_valid(next)) return std::unexpected(unknown(next));
                value = next;
            } else {
                value = std::string_view(a).substr(prefix.size());
            }
            auto size = parse_window_size(value);
            if (!size) return std::unexpected(error(size.error()));
            cli.window_size = *size;
        } else {
            return std::unexpected(unknown(a));
        }
    }
    return cli;
}

Cli parse(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    auto r = parse_args(args);
    if (r) return *r;
    (void)base::write_all(STDOUT_FILENO, r.error().out);
    (void)base::write_all(STDERR_FILENO, r.error().err);
    std::exit(r.error().status);
}

} // namespace cli
