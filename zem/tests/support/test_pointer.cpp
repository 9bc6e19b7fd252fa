// zem-test-pointer: drives the pointer of a wlroots compositor (headless
// sway) for walk-through tests, through a virtual pointer device.
//
//   zem-test-pointer [--display NAME] COMMAND [COMMAND...]
//   zem-test-pointer [--display NAME] -        (commands from standard input)
//
// Commands (positions in the output layout's logical pixels):
//   move X Y               absolute motion
//   by DX DY               relative motion
//   press | release        the left button
//   click X Y              move, press and release the left button
//   right-click X Y        the same with the right button
//   drag X1 Y1 X2 Y2       press at the first point, move in steps, release at the second
//   scroll X Y DY          move, then scroll DY pixels (touchpad scrolling)
//   wheel X Y STEPS        move, then turn the wheel STEPS notches (10 pixels each)
//
// With "-" each line of standard input is a list of commands, answered with
// "ok" or "error: ..." once the compositor has handled it; the device lives
// until the input ends, so clients keep their pointer between lines. A
// device made per invocation appears anew each time: move before pressing
// and wait for what the move shows, or events may reach a client before it
// holds a pointer.

#include "support/virtual_pointer.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zem::test::VirtualPointer;

constexpr uint32_t kLeft = 0x110, kRight = 0x111;

bool number(const std::string& s, double& out) {
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return !s.empty() && end && *end == '\0';
}

// Runs the commands in `words`; an empty string when all went through, else
// what went wrong.
std::string run(VirtualPointer& p, const std::vector<std::string>& words) {
    std::size_t i = 0;
    auto args = [&](std::size_t n, std::vector<double>& v) -> bool {
        v.clear();
        for (std::size_t k = 0; k < n; ++k) {
            double x = 0;
            if (i + k >= words.size() || !number(words[i + k], x)) return false;
            v.push_back(x);
        }
        i += n;
        return true;
    };
    while (i < words.size()) {
        const std::string cmd = words[i++];
        std::vector<double> a;
        bool ok = false;
        if (cmd == "move") {
            if (!args(2, a)) return "move takes X Y";
            ok = p.move_to(a[0], a[1]);
        } else if (cmd == "by") {
            if (!args(2, a)) return "by takes DX DY";
            ok = p.move_by(a[0], a[1]);
        } else if (cmd == "press" || cmd == "release") {
            ok = p.button(kLeft, cmd == "press");
        } else if (cmd == "click" || cmd == "right-click") {
            if (!args(2, a)) return cmd + " takes X Y";
            ok = p.click(a[0], a[1], cmd == "click" ? kLeft : kRight);
        } else if (cmd == "drag") {
            if (!args(4, a)) return "drag takes X1 Y1 X2 Y2";
            ok = p.drag(a[0], a[1], a[2], a[3]);
        } else if (cmd == "scroll") {
            if (!args(3, a)) return "scroll takes X Y DY";
            ok = p.scroll_at(a[0], a[1], a[2]);
        } else if (cmd == "wheel") {
            if (!args(3, a)) return "wheel takes X Y STEPS";
            ok = p.scroll_at(a[0], a[1], a[2], VirtualPointer::AxisSource::Wheel);
        } else {
            return "unknown command \"" + cmd + "\"";
        }
        if (!ok) return p.error();
    }
    return {};
}

int usage() {
    std::fputs("usage: zem-test-pointer [--display NAME] COMMAND... | -\n"
               "commands: move X Y | by DX DY | press | release | click X Y | right-click X Y |\n"
               "          drag X1 Y1 X2 Y2 | scroll X Y DY | wheel X Y STEPS\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    std::string display;
    if (words.size() >= 2 && words[0] == "--display") {
        display = words[1];
        words.erase(words.begin(), words.begin() + 2);
    }
    if (words.empty()) return usage();
    auto p = VirtualPointer::connect(display);
    if (!p) {
        std::fprintf(stderr, "zem-test-pointer: %s\n", p.error().c_str());
        return 1;
    }
    if (words.size() == 1 && words[0] == "-") {
        std::string line;
        while (std::getline(std::cin, line)) {
            std::istringstream in(line);
            std::vector<std::string> ws;
            for (std::string w; in >> w;) ws.push_back(w);
            std::string err = run(**p, ws);
            std::cout << (err.empty() ? "ok" : "error: " + err) << std::endl;
        }
        return 0;
    }
    std::string err = run(**p, words);
    if (err.empty()) return 0;
    std::fprintf(stderr, "zem-test-pointer: %s\n", err.c_str());
    return err.find(" takes ") != std::string::npos || err.rfind("unknown command", 0) == 0 ? usage() : 1;
}
