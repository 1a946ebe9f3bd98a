// How long operations tell their caller, between their pieces, how far they have come.
#pragma once

#include <cstdint>

// Told after each piece of a long operation how many more bytes it has done
// (read, decoded, written or compared). Called on the operation's own thread;
// an implementation must return quickly and must not fail the operation.
class ProgressHook {
public:
    virtual void Advance(uint64_t bytes) = 0;

protected:
    ~ProgressHook() = default;
};

// A stretch of a progress bar, from position `from` to position `to`, covered
// as `total` bytes are done: each Advance moves the position in proportion,
// never backwards and never past `to`, and hands it to the setter only when
// it has changed. A total of 0 counts as done at once.
class ProgressSpan : public ProgressHook {
public:
    using Setter = void (*)(int position, void* context);

    ProgressSpan(int from, int to, uint64_t total, Setter setter, void* context);
    void Advance(uint64_t bytes) override;
    int Position() const { return position_; }

private:
    int from_;
    int to_;
    uint64_t total_;
    uint64_t done_ = 0;
    int position_;
    Setter setter_;
    void* context_;
};
