// BytesOutput: a byte output that writes straight into a Python bytes object.
#pragma once

#include <algorithm>
#include <cstring>

#include "python/py.hpp"

namespace velmora::py {

// The protocol writers append to it; the bytes object grows in place (its allocation is
// resized, so large values are not copied again) and is handed out at the exact size.
// Interpreter lock held throughout. Throws PythonError (MemoryError set) when memory runs out.
class BytesOutput {
public:
    explicit BytesOutput(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 16)) {
        bytes_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity_));
        if (!bytes_) throw PythonError{};
        data_ = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_));
    }
    ~BytesOutput() { Py_XDECREF(bytes_); }
    BytesOutput(const BytesOutput&) = delete;
    BytesOutput& operator=(const BytesOutput&) = delete;

    [[gnu::always_inline]] void push_back(std::uint8_t b) {
        if (size_ == capacity_) [[unlikely]]
            grow(1);
        data_[size_++] = b;
    }
    [[gnu::always_inline]] void append(const void* p, std::size_t n) {
        if (n > capacity_ - size_) [[unlikely]]
            grow(n);
        std::memcpy(data_ + size_, p, n);
        size_ += n;
    }
    std::size_t size() const noexcept { return size_; }

    // The finished bytes object (new reference), trimmed to what was written.
    PyObject* finish() {
        if (size_ != capacity_ && _PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(size_)) < 0) throw PythonError{};
        return std::exchange(bytes_, nullptr);
    }

private:
    [[gnu::noinline]] void grow(std::size_t n) {
        // Doubling for small writes; a large value gets room for what usually follows it
        // (the stop byte, a few more fields) so it is not moved again a few bytes later.
        const std::size_t wanted = std::max(capacity_ * 2, size_ + n + n / 16 + 256);
        if (wanted > static_cast<std::size_t>(PY_SSIZE_T_MAX) - sizeof(PyBytesObject)) {
            PyErr_NoMemory();
            throw PythonError{};
        }
        // On failure the object is released and bytes_ becomes null, with MemoryError set.
        if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(wanted)) < 0) throw PythonError{};
        data_ = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_));
        capacity_ = wanted;
    }

    PyObject* bytes_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_;
};

}  // namespace velmora::py
