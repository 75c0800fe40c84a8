// The server's control window: the message-only window through which clients reach the
// hook library, holding the shared tray region open for as long as it lives.
#pragma once

#include "VeskTrayHookLibrary.h"
#include "VeskWindow.h"

class TVeskTrayServerWindow : public TVeskWindow {
public:
    HANDLE MappingHandle = nullptr;
    void* SharedView = nullptr;

    explicit TVeskTrayServerWindow(const TVeskTrayHookLibrary& hookLibrary);
    ~TVeskTrayServerWindow() override;

    void WMControl(TVeskMessage& message);

    static const TVeskMessageMap& ClassMessageMap();
    const TVeskMessageMap& MessageMap() const override { return ClassMessageMap(); }

protected:
    void AfterCreateHandle() override;
    void BeforeDestroyHandle() override;

private:
    const TVeskTrayHookLibrary& HookLibrary;
};
