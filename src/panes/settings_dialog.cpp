#include "panes/settings_dialog.h"

#include "resources/resource_ids.h"

namespace sv {

INT_PTR CSVSettings::ShowVersionNotice(HINSTANCE resources, HWND owner) {
    return DoModal(resources, MAKEINTRESOURCEW(IDD_VERSION_NOTICE), owner);
}

bool CSVSettings::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM, LRESULT& result,
                                       DWORD mapId) {
    if (mapId != 0) return false;
    switch (message) {
    case WM_INITDIALOG:
        CentreOverOwner(hwnd);
        result = TRUE;  // focus to the first control
        return true;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDC_VERSION_NOTICE_CANCEL) {
            EndDialog(0);
        } else if (id >= IDOK && id <= IDNO) {
            // The standard commands 1-7 (IDOK ... IDNO), Escape's IDCANCEL among them.
            EndDialog(id);
        } else {
            return false;
        }
        result = 0;
        return true;
    }
    default:
        return false;
    }
}

void CentreOverOwner(HWND hwnd) {
    RECT dialog;
    if (!GetWindowRect(hwnd, &dialog)) return;
    HWND over = GetWindow(hwnd, GW_OWNER);
    if (!over) over = GetParent(hwnd);
    RECT area;
    if (!over || !GetWindowRect(over, &area)) {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    const int x = area.left + ((area.right - area.left) - width) / 2;
    const int y = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace sv
