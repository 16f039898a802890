// The growable output buffer the library's writers collect their output
// in: a chain of fixed blocks, finished into one library memory block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace svx::services {

class OutputBuffer {
public:
    static constexpr size_t kBlockSize = 0xFC00;
    static constexpr size_t kMaxBlocks = 256;

    OutputBuffer() = default;
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Appends; once a write has failed (no memory, or a 257th block
    // needed) every later write is ignored and `failed` stays set.
    void write(const void* data, size_t bytes);
    void write_byte(uint8_t b) { write(&b, 1); }
    void write_be32(uint32_t v);
    void write_text(const char* text);  // without its NUL

    bool failed() const { return failed_; }
    size_t size() const { return size_; }

    // One library memory block holding everything written, the chain
    // freed. Null when a write failed or memory runs out.
    void* finish(uint32_t* size);

private:
    void release();

    uint8_t* blocks_[kMaxBlocks] = {};
    size_t count_ = 0;
    size_t size_ = 0;
    bool failed_ = false;
};

}  // namespace svx::services
