#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>

namespace quillby {

// The bytes of one file at a time, in memory kept from file to file, so that a reader opening
// many files touches one buffer rather than the size of the folder.
class HistoryReadBuffer {
public:
    char *data() { return bytes_.get(); }
    std::size_t size() const { return size_; }

    // Empties the buffer and makes room for at least `capacity` bytes, keeping its memory.
    void clear(std::size_t capacity)
    {
        size_ = 0;
        reserve(capacity);
    }
    // Room for one more read at the end, doubled when full.
    char *freeSpace()
    {
        if (size_ == capacity_) {
            reserve(std::max<std::size_t>(capacity_ * 2, 1));
        }
        return bytes_.get() + size_;
    }
    std::size_t freeSize() const { return capacity_ - size_; }
    void grew(std::size_t count) { size_ += count; }

private:
    void reserve(std::size_t capacity)
    {
        if (capacity <= capacity_) {
            return;
        }
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
        std::copy_n(bytes_.get(), size_, bigger.get());
        bytes_ = std::move(bigger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

} // namespace quillby
