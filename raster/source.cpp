// Block-wise reading of image files and memory images.
#include "source.h"

#include <algorithm>
#include <cstring>

#include "raster/rl.h"

namespace raster {

ImageSource::~ImageSource() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool ImageSource::open(const char* name, int32_t flags) {
    if (flags & RL_FROM_MEMORY) {
        const State& s = state();
        if (!s.memory_image) return false;
        memory_ = s.memory_image;
        size_ = s.memory_image_size;
        return true;
    }
    if (!name) return false;
    file_ = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file_, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return false;
    }
    size_ = (static_cast<int64_t>(high) << 32) | low;
    return true;
}

void ImageSource::seek(int64_t offset) {
    offset = std::clamp<int64_t>(offset, 0, size_);
    if (offset >= block_start_ && offset <= block_start_ + static_cast<int64_t>(end_)) {
        pos_ = static_cast<size_t>(offset - block_start_);
        return;
    }
    block_start_ = offset;
    pos_ = end_ = 0;
}

bool ImageSource::refill() {
    block_start_ += static_cast<int64_t>(end_);
    pos_ = end_ = 0;
    if (block_start_ >= size_) return false;
    if (memory_) {
        end_ = static_cast<size_t>(std::min<int64_t>(kIoBlockSize, size_ - block_start_));
        std::memcpy(block_, memory_ + block_start_, end_);
        return true;
    }
    if (file_pointer_ != block_start_) {
        LONG high = static_cast<LONG>(block_start_ >> 32);
        SetLastError(NO_ERROR);
        if (SetFilePointer(file_, static_cast<LONG>(block_start_ & 0xFFFFFFFF), &high,
                           FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return false;
        file_pointer_ = block_start_;
    }
    DWORD got = 0;
    if (!ReadFile(file_, block_, kIoBlockSize, &got, nullptr)) got = 0;
    file_pointer_ += got;
    end_ = got;
    return got > 0;
}

size_t ImageSource::read(uint8_t* dst, size_t count) {
    size_t done = 0;
    while (done < count) {
        if (pos_ == end_ && !refill()) break;
        const size_t n = std::min(count - done, end_ - pos_);
        std::memcpy(dst + done, block_ + pos_, n);
        pos_ += n;
        done += n;
    }
    return done;
}

}  // namespace raster
