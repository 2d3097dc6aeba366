// CSVSettings: the plug-in's modal dialogs. Runs the version notice (dialog 102), shown when the
// player is older than version 11.
#pragma once
#include <windows.h>

#include "window/window_base.h"

namespace sv {

class CSVSettings : public DialogBase {
public:
    CSVSettings() = default;
    ~CSVSettings() override = default;

    // Shows the version notice centred over owner and waits until it is closed. Returns 0 for its
    // Cancel button, the command id for any other standard command (IDCANCEL from Escape, say), -1
    // when the dialog could not be shown.
    INT_PTR ShowVersionNotice(HINSTANCE resources, HWND owner);

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD mapId) override;
};

// Centres a window over its owner (or its parent, or the screen when it has neither).
void CentreOverOwner(HWND hwnd);

}  // namespace sv
