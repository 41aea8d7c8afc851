// Move-only owner of a COM interface pointer: Release in the destructor.
#pragma once

#include <utility>

namespace toolkit::win32 {

template <typename Interface>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer = std::exchange(other.pointer, nullptr);
        }
        return *this;
    }

    Interface* Get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
    // For the out-parameter of a factory call: releases what is held first.
    Interface** Put() {
        Reset();
        return &pointer;
    }
    void Reset() {
        if (pointer) std::exchange(pointer, nullptr)->Release();
    }

  private:
    Interface* pointer = nullptr;
};

}  // namespace toolkit::win32
