#include <zem/access/atspi_bridge.hpp>

namespace zem::access {

struct AtspiBridge::Impl {};

AtspiBridge::AtspiBridge(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AtspiBridge::~AtspiBridge() = default;

std::unique_ptr<AtspiBridge> AtspiBridge::start(Adapter&, std::string, std::string) { return nullptr; }

}  // namespace zem::access
