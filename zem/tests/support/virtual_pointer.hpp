#pragma once
// A pointer device of our own on a wlroots compositor (headless sway),
// through the zwlr_virtual_pointer_v1 protocol: motion (absolute in the
// output layout's logical pixels, or relative), buttons and scrolling, each
// group ended with a frame as a real mouse driver sends it.
//
// The compositor creates a seat pointer for the device; clients on the seat
// then see the pointer capability come (and go again when the device is
// destroyed). A client that creates its wl_pointer after the first motion
// still gets an enter for the surface under the pointer, but events sent
// before it holds a wl_pointer are not repeated for it: drivers should move
// first and wait for what the move shows before pressing.

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <utility>

namespace zem::test {

class VirtualPointer {
public:
    // wl_pointer axis sources: a wheel scrolls in steps the client may
    // multiply; a finger (touchpad) scrolls by exactly the value given.
    enum class AxisSource : uint32_t { Wheel = 0, Finger = 1, Continuous = 2, WheelTilt = 3 };

    // Connects to `display` (a socket name or an absolute path, as
    // WAYLAND_DISPLAY takes it; empty: the environment's) and creates the
    // device on the compositor's default seat.
    [[nodiscard]] static std::expected<std::unique_ptr<VirtualPointer>, std::string> connect(
        const std::string& display = {});
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    // The output layout in logical pixels, which absolute positions are
    // measured against: the union of the outputs the compositor announced.
    std::pair<uint32_t, uint32_t> extent() const { return extent_; }
    void set_extent(uint32_t width, uint32_t height) { extent_ = {width, height}; }

    // Each of these sends one group of events ended with a frame and waits
    // until the compositor has handled it; false once the connection is
    // broken (error() says why).
    bool move_to(double x, double y);
    bool move_by(double dx, double dy);
    bool button(uint32_t code, bool pressed);
    // Scrolls by (dx, dy) in wl_pointer axis units from `source`, ended with
    // an axis stop for a finger, as touchpads do.
    bool scroll(double dx, double dy, AxisSource source = AxisSource::Finger);

    // Compositions: a left click at a point; a press at one point, `steps`
    // moves on the straight line to the other and the release there; a move
    // to a point and a vertical scroll there.
    bool click(double x, double y, uint32_t code = 0x110);
    bool drag(double x1, double y1, double x2, double y2, int steps = 8);
    bool scroll_at(double x, double y, double dy, AxisSource source = AxisSource::Finger);

    const std::string& error() const { return error_; }

    struct Wayland;

private:
    VirtualPointer() = default;
    bool settle();

    std::unique_ptr<Wayland> wl_;
    std::pair<uint32_t, uint32_t> extent_{0, 0};
    std::string error_;
};

}  // namespace zem::test
