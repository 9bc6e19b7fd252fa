#pragma once
// The AT-SPI bridge: one thread that watches the session bus for assistive
// technologies and, while one listens, serves the adapter's latest tree on
// the accessibility bus and emits the events screen readers follow.

#include <memory>
#include <string>

#include <zem/access/adapter.hpp>

namespace zem::access {

class AtspiBridge {
public:
    // Starts the bus thread. Without a session bus the thread ends at once
    // and the application runs as before.
    static std::unique_ptr<AtspiBridge> start(Adapter& adapter, std::string app_id, std::string version);
    ~AtspiBridge();
    AtspiBridge(const AtspiBridge&) = delete;
    AtspiBridge& operator=(const AtspiBridge&) = delete;

    struct Impl;

private:
    explicit AtspiBridge(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zem::access
