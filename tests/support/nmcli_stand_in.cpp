#include "support/nmcli_stand_in.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace support {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
}

void write(const std::string& path, const std::string& text) {
    std::ofstream f(path + ".tmp", std::ios::binary);
    f << text;
    f.close();
    fs::rename(path + ".tmp", path);
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
}

} // namespace

NmcliStandIn::NmcliStandIn() : old_path_(env("PATH")), old_dir_(env("NMCLI_STANDIN_DIR")) {
    fs::create_directories(dir_ / "bin");
    fs::create_symlink(std::string(TAVIX_SOURCE_DIR) + "/tests/support/stand-ins/nmcli", dir_ / "bin/nmcli");
    std::ofstream(dir_ / "log").close();
    ::setenv("PATH", ((dir_ / "bin") + ":" + old_path_.value_or("/usr/bin:/bin")).c_str(), 1);
    ::setenv("NMCLI_STANDIN_DIR", dir_.path().c_str(), 1);
}

NmcliStandIn::~NmcliStandIn() {
    restore("PATH", old_path_);
    restore("NMCLI_STANDIN_DIR", old_dir_);
}

void NmcliStandIn::reply(const std::string& kind, const std::string& out, const std::string& err, int code) {
    write(dir_ / (kind + ".out"), out);
    write(dir_ / (kind + ".err"), err);
    write(dir_ / (kind + ".code"), std::to_string(code));
}

std::string NmcliStandIn::fixture(const std::string& name) {
    std::ifstream f(std::string(TAVIX_SOURCE_DIR) + "/src/network/tests/fixtures/" + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void NmcliStandIn::connectivity(const std::string& word) { write(dir_ / "connectivity", word + "\n"); }

void NmcliStandIn::then_connectivity(const std::string& kind, const std::string& word) {
    write(dir_ / (kind + ".sets"), word + "\n");
}

void NmcliStandIn::hold(const std::string& kind) { write(dir_ / (kind + ".hold"), ""); }
void NmcliStandIn::release(const std::string& kind) { fs::remove(dir_ / (kind + ".hold")); }
void NmcliStandIn::delay(const std::string& kind, double seconds) {
    write(dir_ / (kind + ".delay"), std::to_string(seconds));
}
void NmcliStandIn::remove() { fs::remove(dir_ / "bin/nmcli"); }

std::vector<std::string> NmcliStandIn::log() const {
    std::ifstream f(dir_ / "log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(f, l);) lines.push_back(l);
    return lines;
}

std::size_t NmcliStandIn::calls(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& l : log()) n += l.rfind(prefix, 0) == 0;
    return n;
}

std::string bracketed(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) s += "[" + a + "]";
    return s;
}

} // namespace support
