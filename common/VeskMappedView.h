// Owns one mapped view of a file mapping and unmaps it exactly once.
#pragma once

#include <windows.h>

#include <utility>

class TVeskMappedView {
public:
    explicit TVeskMappedView(void* view = nullptr) : View(view) {}
    ~TVeskMappedView() { Unmap(); }
    TVeskMappedView(TVeskMappedView&& other) noexcept : View(std::exchange(other.View, nullptr)) {}
    TVeskMappedView& operator=(TVeskMappedView&& other) noexcept {
        if (this != &other) {
            Unmap();
            View = std::exchange(other.View, nullptr);
        }
        return *this;
    }

    bool Valid() const { return View != nullptr; }
    void* Get() const { return View; }

    void Unmap() {
        if (View)
            UnmapViewOfFile(View);
        View = nullptr;
    }

private:
    void* View;
};
