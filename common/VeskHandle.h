// Owns one kernel handle (file, process, event, mapping) and closes it exactly once.
#pragma once

#include <windows.h>

#include <utility>

class TVeskHandle {
public:
    explicit TVeskHandle(HANDLE handle = nullptr) : Handle(handle) {}
    ~TVeskHandle() { Close(); }
    TVeskHandle(TVeskHandle&& other) noexcept : Handle(std::exchange(other.Handle, nullptr)) {}
    TVeskHandle& operator=(TVeskHandle&& other) noexcept {
        if (this != &other) {
            Close();
            Handle = std::exchange(other.Handle, nullptr);
        }
        return *this;
    }

    // Both ways of saying "no handle" (file functions use INVALID_HANDLE_VALUE).
    bool Valid() const { return Handle && Handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return Handle; }

    // True when there was nothing to close or closing succeeded: a file written through
    // the handle is complete only then.
    bool Close() {
        const bool closed = !Valid() || CloseHandle(Handle) != 0;
        Handle = nullptr;
        return closed;
    }

private:
    HANDLE Handle;
};
