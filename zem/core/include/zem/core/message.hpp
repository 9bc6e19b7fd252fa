#pragma once
// A copyable, type-erased box for one application message.
//
// The toolkit is compiled as a library, yet elements, hit regions, gesture
// state and the loop's queue all hold the application's own message type.
// They hold it in this box: the toolkit only copies, moves and hands the box
// back; the application (through `zem::run<App>`) unwraps it again. The
// absence of a message is `std::optional<Message>`, never an empty box.

#include <any>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace zem {

class Message {
public:
    Message() = default;

    template <class T>
        requires(!std::is_same_v<std::decay_t<T>, Message> &&
                 std::is_copy_constructible_v<std::decay_t<T>>)
    Message(T&& value) : value_(std::forward<T>(value)) {}  // NOLINT: implicit on purpose

    Message(const Message&) = default;
    Message(Message&&) noexcept = default;
    Message& operator=(const Message&) = default;
    Message& operator=(Message&&) noexcept = default;

    // False only for a default-constructed or moved-from box.
    bool has_value() const noexcept { return value_.has_value(); }
    const std::type_info& type() const noexcept { return value_.type(); }

    template <class T>
    bool holds() const noexcept {
        return std::any_cast<T>(&value_) != nullptr;
    }

    // The message as T, or nullptr when the box holds something else.
    template <class T>
    const T* get() const noexcept {
        return std::any_cast<T>(&value_);
    }
    template <class T>
    T* get() noexcept {
        return std::any_cast<T>(&value_);
    }

    // Moves the message out as T. Asking for a type the box does not hold is
    // a toolkit misuse (an element built for another application) and stops
    // the program.
    template <class T>
    T take() && {
        T* p = std::any_cast<T>(&value_);
        if (p == nullptr) {
            std::fprintf(stderr, "zem: message of type %s taken as %s\n",
                         value_.type().name(), typeid(T).name());
            std::abort();
        }
        return std::move(*p);
    }

private:
    std::any value_;
};

using OptionalMessage = std::optional<Message>;

}  // namespace zem
