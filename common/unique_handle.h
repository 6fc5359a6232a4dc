// Sole owner of one platform handle: releases it exactly once, on reset or
// at the end of its scope. Move-only.
#pragma once

#include <utility>

template <typename T, typename Deleter>
class unique_handle {
 public:
  unique_handle() noexcept = default;
  explicit unique_handle(T handle) noexcept : handle_(handle) {}
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : handle_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_handle() { reset(); }

  T get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != T{}; }

  // Gives the handle up without releasing it.
  T release() noexcept { return std::exchange(handle_, T{}); }

  void reset(T handle = T{}) noexcept {
    T old = std::exchange(handle_, handle);
    if (old != T{}) Deleter{}(old);
  }

 private:
  T handle_{};
};

// Deleter that calls one release function, e.g. call_release<&DestroyIcon>.
template <auto Release>
struct call_release {
  template <typename T>
  void operator()(T handle) const noexcept {
    Release(handle);
  }
};
