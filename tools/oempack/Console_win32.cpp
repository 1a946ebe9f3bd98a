// Console output, Win32 error texts and the progress bar of the packaging tool.
#include "Console.h"

#include <windows.h>

#include <cstdio>

#include "PackageWriter.h"

void PrintError(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: %s\n", message.c_str());
    std::fflush(stderr);
}

void PrintWarning(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "oempack: warning: %s\n", message.c_str());
    std::fflush(stderr);
}

void PrintOut(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool StandardErrorIsConsole()
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    return err != nullptr && err != INVALID_HANDLE_VALUE && GetFileType(err) == FILE_TYPE_CHAR;
}

std::string SystemErrorText(uint32_t code)
{
    char buffer[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "system error";
    return text + " (error " + std::to_string(code) + ")";
}

ProgressBar::ProgressBar(const std::string& label, uint64_t total, bool enabled)
    : label_(label), total_(total), active_(enabled && total > 0 && StandardErrorIsConsole()),
      started_(GetTickCount())
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
    uint32_t now = GetTickCount();
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
