#pragma once
// Identifiers and small records of the application shell.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace zem {

using OverlayId = uint32_t;
using WidgetId = uint64_t;

// Names one surface: the main surface, or an overlay by its id.
struct SurfaceKey {
    enum Kind : uint32_t { Main = 0, Overlay = 1, None = 2 };
    Kind kind = Main;
    OverlayId id = 0;

    static SurfaceKey main() { return {Main, 0}; }
    static SurfaceKey overlay(OverlayId id) { return {Overlay, id}; }
    bool is_main() const { return kind == Main; }
    bool operator==(const SurfaceKey& o) const {
        return kind == o.kind && (kind != Overlay || id == o.id);
    }
};

struct WindowConfig {
    std::string title;
    std::string app_id;
};

// Why start-up failed. `text()` is the whole message.
struct RunError {
    enum Kind { Connect, Registry, EventLoop, MissingProtocol };
    Kind kind;
    std::string detail;     // the carried error text
    std::string interface;  // MissingProtocol only

    std::string text() const;
};

// The debug form of an overlay id in messages: OverlayId(7).
std::string overlay_debug(OverlayId id);

}  // namespace zem
