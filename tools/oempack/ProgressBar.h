// A one-line progress bar on standard error for work that takes more than a moment.
#pragma once

#include <cstdint>
#include <string>

// A one-line progress bar on standard error. It draws only when enabled and
// standard error is a console, appears once the work has taken half a second,
// redraws at most ten times a second, and erases itself in Finish.
class ProgressBar {
public:
    ProgressBar(const std::string& label, uint64_t total, bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(uint64_t done);
    void Finish();

private:
    void Draw(uint64_t done);

    std::string label_;
    uint64_t total_;
    bool active_;
    bool shown_ = false;
    uint32_t started_;
    uint32_t lastDraw_ = 0;
};
