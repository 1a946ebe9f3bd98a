// A stretch of a progress bar covered in proportion to the bytes done.
#include "ProgressHook.h"

ProgressSpan::ProgressSpan(int from, int to, uint64_t total, Setter setter, void* context)
    : from_(from), to_(to < from ? from : to), total_(total), position_(from), setter_(setter), context_(context)
{}

void ProgressSpan::Advance(uint64_t bytes)
{
    done_ = bytes >= total_ - done_ ? total_ : done_ + bytes;
    const uint64_t width = static_cast<uint64_t>(to_) - static_cast<uint64_t>(from_);
    int position = to_;
    if (total_ != 0 && width != 0) {
        // done * width / total without overflow: halve both while the product could exceed 64 bits.
        uint64_t done = done_;
        uint64_t total = total_;
        while (total > UINT64_MAX / width) {
            done >>= 1;
            total >>= 1;
        }
        position = from_ + static_cast<int>(done * width / total);
    }
    if (position <= position_)
        return;
    position_ = position;
    if (setter_)
        setter_(position_, context_);
}
