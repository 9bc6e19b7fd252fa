#pragma once
// The stand-in `nmcli` (tests/support/stand-ins/nmcli) first on the search
// path for the life of this object, answering from files the test writes
// and logging every call. There is no NetworkManager or Wi-Fi here.

#include "support/temp_dir.hpp"

#include <optional>
#include <string>
#include <vector>

namespace support {

class NmcliStandIn {
public:
    NmcliStandIn();
    ~NmcliStandIn();
    NmcliStandIn(const NmcliStandIn&) = delete;
    NmcliStandIn& operator=(const NmcliStandIn&) = delete;

    // How the command KIND (scan, connectivity, delete, add, up) answers.
    void reply(const std::string& kind, const std::string& out, const std::string& err = "", int code = 0);
    // Text of a fixture file under src/network/tests/fixtures.
    static std::string fixture(const std::string& name);
    // The connectivity word the next checks print ("full", "limited", "none").
    void connectivity(const std::string& word);
    // After KIND answers, the connectivity becomes `word`.
    void then_connectivity(const std::string& kind, const std::string& word);
    // Calls of KIND wait until release(KIND).
    void hold(const std::string& kind);
    void release(const std::string& kind);
    void delay(const std::string& kind, double seconds);
    // No nmcli on the search path at all.
    void remove();

    // Every call so far, one line each, arguments in brackets.
    std::vector<std::string> log() const;
    std::size_t calls(const std::string& prefix) const;

private:
    TempDir dir_;
    std::optional<std::string> old_path_;
    std::optional<std::string> old_dir_;
};

// "[a][b][c]": how the stand-in logs the arguments a, b, c.
std::string bracketed(const std::vector<std::string>& args);

} // namespace support
