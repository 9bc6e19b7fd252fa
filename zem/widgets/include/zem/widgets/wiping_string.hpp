#pragma once
// A string that overwrites its bytes with zeros before it gives them up: when
// it is released, assigned over or moved from. A password field's text lives
// in one, so that no copy of a secret lingers in freed memory.

#include <cstddef>
#include <string>
#include <string_view>

namespace zem {

class WipingString {
public:
    WipingString() = default;
    explicit WipingString(std::string_view text) : text_(text) {}
    WipingString(const WipingString& other) : text_(other.text_) {}
    // Moving a short string copies its bytes out of the small-string buffer
    // and leaves them there, so the text is copied and the source wiped.
    WipingString(WipingString&& other) noexcept : text_(other.text_) { other.clear(); }
    WipingString& operator=(const WipingString& other) {
        if (this != &other) assign(other.text_);
        return *this;
    }
    WipingString& operator=(WipingString&& other) noexcept {
        if (this != &other) {
            assign(other.text_);
            other.clear();
        }
        return *this;
    }
    WipingString& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    ~WipingString() {
        if (wipe_on_release_) wipe();
    }

    // Leaves the bytes in place when the string is released: for text that
    // is no secret.
    void keep_on_release() { wipe_on_release_ = false; }

    void clear() noexcept {
        wipe();
        text_.clear();
    }

    const std::string& str() const { return text_; }
    operator std::string_view() const { return text_; }  // NOLINT: implicit on purpose
    const char* data() const { return text_.data(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

    friend bool operator==(const WipingString& a, std::string_view b) { return a.text_ == b; }

private:
    void wipe() noexcept;
    void assign(std::string_view text) {
        wipe();
        text_.assign(text);
    }

    std::string text_;
    bool wipe_on_release_ = true;
};

}  // namespace zem
