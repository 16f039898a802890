#include "services/outbuf.h"

#include <algorithm>
#include <cstring>

#include "sonvex.h"

namespace svx::services {

OutputBuffer::~OutputBuffer() { release(); }

void OutputBuffer::release() {
    for (size_t i = 0; i < count_; ++i) ::SVX_mem_free_lock(blocks_[i]);
    count_ = 0;
    size_ = 0;
}

void OutputBuffer::write(const void* data, size_t bytes) {
    const auto* from = static_cast<const uint8_t*>(data);
    while (bytes > 0 && !failed_) {
        size_t used = size_ - (count_ > 0 ? (count_ - 1) * kBlockSize : 0);
        if (count_ == 0 || used == kBlockSize) {
            if (count_ == kMaxBlocks) {
                failed_ = true;
                return;
            }
            auto* block = static_cast<uint8_t*>(::SVX_mem_alloc_lock(int32_t(kBlockSize)));
            if (!block) {
                failed_ = true;
                return;
            }
            blocks_[count_++] = block;
            used = 0;
        }
        const size_t n = std::min(bytes, kBlockSize - used);
        std::memcpy(blocks_[count_ - 1] + used, from, n);
        from += n;
        bytes -= n;
        size_ += n;
    }
}

void OutputBuffer::write_be32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    write(b, 4);
}

void OutputBuffer::write_text(const char* text) { write(text, std::strlen(text)); }

void* OutputBuffer::finish(uint32_t* size) {
    if (size) *size = 0;
    if (failed_) {
        release();
        return nullptr;
    }
    // A zero-byte block cannot be had; an empty result still gets one byte.
    auto* out = static_cast<uint8_t*>(::SVX_mem_alloc_lock(int32_t(std::max<size_t>(size_, 1))));
    if (!out) {
        release();
        return nullptr;
    }
    size_t at = 0;
    for (size_t i = 0; i < count_; ++i) {
        const size_t n = std::min(kBlockSize, size_ - at);
        std::memcpy(out + at, blocks_[i], n);
        at += n;
    }
    if (size) *size = uint32_t(size_);
    release();
    return out;
}

}  // namespace svx::services
