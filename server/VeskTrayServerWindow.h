// The server's control window: the message-only window through which clients reach the
// hook library, holding the shared tray region open for as long as it lives.
#pragma once

#include "VeskTrayHookLibrary.h"
#include "VeskTrayServerInterface.h"
#include "VeskWindow.h"

class TVeskTrayServerWindow : public TVeskWindow {
public:
    // In this order, so that the view goes before the mapping also when the object is
    // dropped without being freed.
    TVeskHandle MappingHandle;
    TVeskMappedView SharedView;

    explicit TVeskTrayServerWindow(const TVeskTrayHookLibrary& hookLibrary);

    void WMControl(TVeskMessage& message);

    VESK_BEGIN_MESSAGE_MAP(TVeskTrayServerWindow, TVeskWindow)
    VESK_MESSAGE_HANDLER(VeskTrayControlMessage, WMControl)
    VESK_END_MESSAGE_MAP()

protected:
    void AfterCreateHandle() override;
    void BeforeDestroyHandle() override;

private:
    const TVeskTrayHookLibrary& HookLibrary;
};
