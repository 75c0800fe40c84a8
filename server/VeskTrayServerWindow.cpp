#include "VeskTrayServerWindow.h"

TVeskTrayServerWindow::TVeskTrayServerWindow(const TVeskTrayHookLibrary& hookLibrary)
    : HookLibrary(hookLibrary) {
    WindowClassName = VeskTrayServerWindowClass;
}

void TVeskTrayServerWindow::AfterCreateHandle() {
    // A region that cannot be had is no failure: the window serves without it.
    OpenSharedRegion(MappingHandle, SharedView);
}

void TVeskTrayServerWindow::BeforeDestroyHandle() {
    CloseSharedRegion(MappingHandle, SharedView);
}

void TVeskTrayServerWindow::WMControl(TVeskMessage& message) {
    const auto argument = static_cast<std::int32_t>(message.LParam);
    switch (static_cast<std::uint32_t>(message.WParam)) {
    case VeskTrayRequestQuit:
        PostQuitMessage(0);
        message.Result = 1;
        break;
    case VeskTrayRequestAddMonitor:
        message.Result = HookLibrary.AddMonitor(argument);
        break;
    case VeskTrayRequestRemoveMonitor:
        message.Result = HookLibrary.RemoveMonitor(argument);
        break;
    default:
        message.Result = 1;
        break;
    }
}
