// The one error type used inside the system: success, or a Win32 error code with a message.
//
// Internal functions that can fail return a Status (or fill an out-parameter and
// return a Status); the class is [[nodiscard]], so the compiler flags every
// call whose result is dropped. The code is always a Win32 error number (also
// on POSIX), so a public function that follows the Win32 convention turns a
// failed Status into its int result and sets the last-error value once, with
// `SetLastErrorValue(status.Code())`, where it returns. The message is for
// people (tool output, diagnostics); it is empty where the code says it all.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "SystemApi.h"

class [[nodiscard]] Status {
public:
    // Success.
    Status() = default;
    static Status Ok() { return Status(); }
    // A failure. A code of 0 would read as success, so it is stored as 1
    // (ERROR_INVALID_FUNCTION): a failure never reports success.
    static Status Error(uint32_t code, std::string message = std::string())
    {
        return Status(code ? code : 1, std::move(message));
    }
    // A failure whose cause is the thread's current last-error value.
    static Status LastError(std::string message = std::string())
    {
        return Error(GetLastErrorValue(), std::move(message));
    }

    bool IsOk() const { return code_ == kErrorSuccess; }
    explicit operator bool() const { return IsOk(); }
    uint32_t Code() const { return code_; }
    const std::string& Message() const { return message_; }

    // The same failure with context put in front of its message ("what: message").
    Status WithContext(const std::string& context) const
    {
        if (IsOk())
            return *this;
        return Status(code_, message_.empty() ? context : context + ": " + message_);
    }

private:
    Status(uint32_t code, std::string message) : code_(code), message_(std::move(message)) {}

    uint32_t code_ = kErrorSuccess;
    std::string message_;
};
