// Where a decoder reads its image from: a file opened for shared reading or
// the memory image, both read through the library's 4096-byte I/O block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state.h"

namespace raster {

class ImageSource {
public:
    ImageSource() = default;
    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

    // The file `name`, or the memory image when `flags` has RL_FROM_MEMORY.
    bool open(const char* name, int32_t flags);

    int64_t size() const { return size_; }
    int64_t position() const { return block_start_ + static_cast<int64_t>(pos_); }
    void seek(int64_t offset);
    void skip(int64_t count) { seek(position() + count); }

    // Copies up to `count` bytes and returns how many there were.
    size_t read(uint8_t* dst, size_t count);

    // The bytes from the position to the end of the block in hand, read
    // in place; `advance` then moves past those used. Empty at the end.
    const uint8_t* buffered(size_t& count) {
        if (pos_ == end_ && !refill()) {
            count = 0;
            return nullptr;
        }
        count = end_ - pos_;
        return block_ + pos_;
    }
    void advance(size_t count) { pos_ += count; }

    // Next byte, or -1 at the end of the data.
    int get() {
        if (pos_ < end_ || refill()) return block_[pos_++];
        return -1;
    }

private:
    bool refill();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    const uint8_t* memory_ = nullptr;
    int64_t size_ = 0;
    int64_t file_pointer_ = 0;  // where the next ReadFile starts
    uint8_t* block_ = state().io_block.data();
    int64_t block_start_ = 0;  // file offset of block_[0]
    size_t pos_ = 0, end_ = 0;
};

}  // namespace raster
