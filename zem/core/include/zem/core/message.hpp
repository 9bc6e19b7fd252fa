#pragma once
// A copyable, type-erased box for one application message.
//
// The toolkit is compiled as a library, yet elements, hit regions, gesture
// state and the loop's queue all hold the application's own message type.
// They hold it in this box: the toolkit only copies, moves and hands the box
// back; the application (through `zem::run<App>`) unwraps it again. The
// absence of a message is `std::optional<Message>`, never an empty box.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace zem {

// Copies share one immutable value (a reference count, no allocation: every
// frame copies the messages of its hit regions); a copy about to be changed
// through `get` takes a value of its own first, so copies stay independent.
class Message {
public:
    Message() = default;

    template <class T>
        requires(!std::is_same_v<std::decay_t<T>, Message> &&
                 std::is_copy_constructible_v<std::decay_t<T>>)
    Message(T&& value)  // NOLINT: implicit on purpose
        : value_(std::make_shared<Boxed<std::decay_t<T>>>(std::forward<T>(value))) {}

    Message(const Message&) = default;
    Message(Message&&) noexcept = default;
    Message& operator=(const Message&) = default;
    Message& operator=(Message&&) noexcept = default;

    // False only for a default-constructed or moved-from box.
    bool has_value() const noexcept { return value_ != nullptr; }
    const std::type_info& type() const noexcept { return value_ ? value_->type() : typeid(void); }

    template <class T>
    bool holds() const noexcept {
        return value_ && value_->type() == typeid(T);
    }

    // The message as T, or nullptr when the box holds something else.
    template <class T>
    const T* get() const noexcept {
        return holds<T>() ? &static_cast<const Boxed<T>*>(value_.get())->value : nullptr;
    }
    template <class T>
    T* get() {
        if (!holds<T>()) return nullptr;
        if (value_.use_count() > 1) value_ = value_->clone();
        return &static_cast<Boxed<T>*>(value_.get())->value;
    }

    // Moves the message out as T (a copy while other boxes share it). Asking
    // for a type the box does not hold is a toolkit misuse (an element built
    // for another application) and stops the program.
    template <class T>
    T take() && {
        if (!holds<T>()) {
            std::fprintf(stderr, "zem: message of type %s taken as %s\n", type().name(), typeid(T).name());
            std::abort();
        }
        auto* boxed = static_cast<Boxed<T>*>(value_.get());
        if (value_.use_count() > 1) {
            T copy = boxed->value;
            value_.reset();
            return copy;
        }
        T out = std::move(boxed->value);
        value_.reset();
        return out;
    }

private:
    struct Holder {
        virtual ~Holder() = default;
        virtual const std::type_info& type() const noexcept = 0;
        virtual std::shared_ptr<Holder> clone() const = 0;
    };
    template <class T>
    struct Boxed final : Holder {
        template <class U>
        explicit Boxed(U&& v) : value(std::forward<U>(v)) {}
        const std::type_info& type() const noexcept override { return typeid(T); }
        std::shared_ptr<Holder> clone() const override { return std::make_shared<Boxed<T>>(value); }
        T value;
    };
    std::shared_ptr<Holder> value_;
};

using OptionalMessage = std::optional<Message>;

}  // namespace zem
