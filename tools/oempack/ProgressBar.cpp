// The progress bar: drawn on standard error only when that is a console.
#include "ProgressBar.h"

#include <chrono>
#include <cstdio>

#include "Console.h"

namespace {

// Milliseconds of a steady clock (GetTickCount: wraps, only differences count).
uint32_t TickCount()
{
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

ProgressBar::ProgressBar(const std::string& label, uint64_t total, bool enabled)
    : label_(label), total_(total), active_(enabled && total > 0 && StandardErrorIsConsole()),
      started_(TickCount())
{
}

ProgressBar::~ProgressBar()
{
    Finish();
}

void ProgressBar::Update(uint64_t done)
{
    if (!active_)
        return;
    uint32_t now = TickCount();
    if (!shown_ && now - started_ < 500)
        return;
    if (shown_ && now - lastDraw_ < 100 && done < total_)
        return;
    lastDraw_ = now;
    Draw(done);
}

void ProgressBar::Draw(uint64_t done)
{
    if (done > total_)
        done = total_;
    const int width = 30;
    int filled = static_cast<int>(done * width / total_);
    int percent = static_cast<int>(done * 100 / total_);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%  %.1f / %.1f MiB", label_.c_str(), bar.c_str(), percent,
                 double(done) / 1048576.0, double(total_) / 1048576.0);
    std::fflush(stderr);
    shown_ = true;
}

void ProgressBar::Finish()
{
    if (!active_)
        return;
    if (shown_) {
        std::fprintf(stderr, "\r%*s\r", 79, "");
        std::fflush(stderr);
    }
    active_ = false;
}
