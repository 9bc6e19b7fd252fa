#include "network/network.hpp"

#include <base/error.hpp>
#include <base/sigpipe.hpp>
#include <base/utf8.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/wait.h>

namespace network {

namespace {

std::string trimmed(std::string_view raw) { return std::string(base::utf8::trim(base::utf8::lossy(raw))); }

// An unsigned 8-bit decimal: an optional '+', then digits, at most 255;
// anything else is 0.
unsigned signal_value(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return 0;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + unsigned(c - '0');
        if (v > 255) return 0;
    }
    return v;
}

} // namespace

std::expected<base::Captured, std::string> run_nmcli(const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back("nmcli");
    argv.insert(argv.end(), args.begin(), args.end());
    base::ignore_sigpipe();
    base::Child child;
    base::SpawnOptions options; // standard input: the empty null device
    if (int e = base::spawn(argv, options, child))
        return std::unexpected(base::errno_text(e) + " (os error " + std::to_string(e) + ")");
    base::Drained d = base::drain(child, {}, true);
    base::Captured c;
    c.out = std::move(d.out);
    c.err = std::move(d.err);
    if (int e = base::reap(child.pid, c.status))
        return std::unexpected("wait for nmcli: " + base::errno_text(e) + " (os error " + std::to_string(e) + ")");
    return c;
}

std::string nmcli_unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) ++i;
        out.push_back(field[i]);
    }
    return out;
}

std::optional<WifiNetwork> parse_nmcli_wifi_line(std::string_view line) {
    // SECURITY, ACTIVE and SIGNAL never hold a ':' of their own; after the
    // third separator the rest is the name, escaped colons and all.
    std::string_view fields[4];
    std::size_t n = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size() && n < 3; ++i) {
        if (line[i] == ':') {
            fields[n++] = line.substr(start, i - start);
            start = i + 1;
        }
    }
    if (n < 3) return std::nullopt;
    fields[3] = line.substr(start);

    WifiNetwork w;
    const std::string security = nmcli_unescape(fields[0]);
    w.secured = !security.empty() && security != "--";
    w.bars = static_cast<std::uint8_t>(std::min((signal_value(fields[2]) + 12) / 25, 4u));
    w.ssid = nmcli_unescape(fields[3]);
    if (w.ssid.empty()) return std::nullopt;
    return w;
}

std::vector<WifiNetwork> parse_wifi_list(std::string_view output) {
    const std::string text = base::utf8::lossy(output);
    std::vector<WifiNetwork> list;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (auto w = parse_nmcli_wifi_line(line)) list.push_back(std::move(*w));
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    std::stable_sort(list.begin(), list.end(), [](const WifiNetwork& a, const WifiNetwork& b) { return a.bars > b.bars; });
    std::set<std::string> seen;
    std::erase_if(list, [&](const WifiNetwork& w) { return !seen.insert(w.ssid).second; });
    return list;
}

std::string status_text(int status) {
    if (WIFEXITED(status)) return "exit status: " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        std::string text = "signal: " + std::to_string(sig);
        if (const char* abbrev = sigabbrev_np(sig)) text += std::string(" (SIG") + abbrev + ")";
        if (WCOREDUMP(status)) text += " (core dumped)";
        return text;
    }
    return "wait status: " + std::to_string(status);
}

std::vector<std::string> scan_args() {
    return {"-t", "-f", "SECURITY,ACTIVE,SIGNAL,SSID", "dev", "wifi", "list", "--rescan", "yes"};
}

std::vector<std::string> connectivity_args() { return {"-t", "networking", "connectivity"}; }

std::vector<std::string> delete_args(const std::string& ssid) { return {"-w", "5", "connection", "delete", "id", ssid}; }

std::vector<std::string> add_args(const std::string& ssid, const std::optional<std::string>& password, bool hidden) {
    std::vector<std::string> a = {"-w", "30", "connection", "add", "type", "wifi", "con-name", ssid,
                                  "ifname", "*", "ssid", ssid};
    if (hidden) a.insert(a.end(), {"wifi.hidden", "yes"});
    if (password)
        a.insert(a.end(), {"wifi-sec.key-mgmt", "wpa-psk", "wifi-sec.psk", *password, "wifi-sec.psk-flags", "0"});
    return a;
}

// The profile is named with "id": a bare name that is one of nmcli's words
// ("id", "uuid", "path", "ifname", "ap", "passwd-file") is taken as that
// word, and a prefix of "help" prints the usage and exits 0.
std::vector<std::string> up_args(const std::string& ssid) { return {"-w", "30", "connection", "up", "id", ssid}; }

std::vector<WifiNetwork> scan_wifi_networks(const Runner& run) {
    auto r = run(scan_args());
    if (!r) {
        std::fprintf(stderr, "network::scan_wifi_networks: spawn nmcli: %s\n", r.error().c_str());
        return {};
    }
    if (!r->exited_ok()) {
        std::fprintf(stderr, "network::scan_wifi_networks: nmcli exit %s: %s\n", status_text(r->status).c_str(),
                     trimmed(r->err).c_str());
        return {};
    }
    return parse_wifi_list(r->out);
}

bool network_online(const Runner& run) {
    auto r = run(connectivity_args());
    return r && r->exited_ok() && trimmed(r->out) == "full";
}

std::expected<void, std::string> connect_wifi(const Runner& run, const std::string& ssid,
                                              const std::optional<std::string>& password, bool hidden) {
    (void)run(delete_args(ssid)); // an older profile may or may not be there
    struct Step {
        const char* what;
        std::vector<std::string> args;
    };
    const Step steps[] = {{"connection add", add_args(ssid, password, hidden)}, {"connection up", up_args(ssid)}};
    for (const Step& s : steps) {
        auto r = run(s.args);
        if (!r) return std::unexpected("spawn nmcli: " + r.error());
        if (!r->exited_ok()) return std::unexpected(nmcli_error_text(s.what, *r));
    }
    return {};
}

std::string nmcli_error_text(std::string_view what, const base::Captured& child) {
    if (std::string e = trimmed(child.err); !e.empty()) return e;
    if (std::string o = trimmed(child.out); !o.empty()) return o;
    return "nmcli " + std::string(what) + ": exit " + status_text(child.status);
}

} // namespace network
