#pragma once
// An owned, heap-allocated value with value semantics.
//
// Elements hold single children through a separate allocation so that the
// element union stays small; copying an element copies its whole subtree, as
// plain data should.

#include <memory>
#include <utility>

namespace zem {

template <class T>
class Box {
public:
    Box() : ptr_(std::make_unique<T>()) {}
    Box(T value) : ptr_(std::make_unique<T>(std::move(value))) {}  // NOLINT: implicit on purpose
    Box(const Box& other) : ptr_(std::make_unique<T>(*other.ptr_)) {}
    Box(Box&& other) noexcept = default;
    Box& operator=(const Box& other) {
        if (this != &other) ptr_ = std::make_unique<T>(*other.ptr_);
        return *this;
    }
    Box& operator=(Box&& other) noexcept = default;
    ~Box() = default;

    T& operator*() { return *ptr_; }
    const T& operator*() const { return *ptr_; }
    T* operator->() { return ptr_.get(); }
    const T* operator->() const { return ptr_.get(); }

private:
    std::unique_ptr<T> ptr_;
};

}  // namespace zem
