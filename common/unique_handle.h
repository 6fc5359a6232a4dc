// Sole owner of one platform handle: releases it exactly once, on reset or
// at the end of its scope. Move-only. Invalid is the value that owns nothing
// (null for pointers and Win32 handles, -1 for file descriptors).
#pragma once

#include <utility>

template <typename T, typename Deleter, T Invalid = T{}>
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
  explicit operator bool() const noexcept { return handle_ != Invalid; }

  // Gives the handle up without releasing it.
  T release() noexcept { return std::exchange(handle_, Invalid); }

  void reset(T handle = Invalid) noexcept {
    T old = std::exchange(handle_, handle);
    if (old != Invalid) Deleter{}(old);
  }

  // For a function that hands a new handle out through a pointer: releases
  // the one held and lends the empty slot, so the new one is owned here at
  // once, even when the call fails after writing it.
  T* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  T handle_ = Invalid;
};

// Deleter that calls one release function, e.g. call_release<&DestroyIcon>.
template <auto Release>
struct call_release {
  template <typename T>
  void operator()(T handle) const noexcept {
    Release(handle);
  }
};
