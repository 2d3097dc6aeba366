#include "panes/settings_dialog.h"

#include <optional>
#include <string>

#include "resources/resource_ids.h"
#include "service/sign_in.h"
#include "settings/settings.h"

namespace sv {
namespace {

std::wstring ControlText(HWND dialog, int id) {
    wchar_t text[kSettingTextChars] = {};
    GetDlgItemTextW(dialog, id, text, static_cast<int>(kSettingTextChars));
    return text;
}

}  // namespace

INT_PTR CSVSettings::ShowVersionNotice(HINSTANCE resources, HWND owner) {
    kind_ = Kind::VersionNotice;
    resources_ = resources;
    return DoModal(resources, MAKEINTRESOURCEW(IDD_VERSION_NOTICE), owner);
}

INT_PTR CSVSettings::ShowSignIn(HINSTANCE resources, HWND owner) {
    kind_ = Kind::SignIn;
    resources_ = resources;
    failureShown_ = false;
    checking_ = false;
    // Built a control per message: the whole dialog at once held the player for 20-50 ms.
    const INT_PTR result = DoModalInSteps(resources, MAKEINTRESOURCEW(IDD_SIGN_IN), owner);
    checking_ = false;
    SecureZeroMemory(checkedPassword_.data(), checkedPassword_.size() * sizeof(wchar_t));
    checkedPassword_.clear();
    return result;
}

bool CSVSettings::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                       MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_INITDIALOG:
            CentreOverOwner(hwnd);
            if (kind_ == Kind::SignIn) {
                InitSignIn(hwnd);
                result = FALSE;  // the focus was set here
            } else {
                result = TRUE;  // focus to the first control
            }
            return true;
        case WM_SV_SIGN_IN_CHECKED:
            if (kind_ != Kind::SignIn) return false;
            OnSignInChecked(hwnd, wParam, lParam);
            result = 0;
            return true;
        case WM_DESTROY:
            // An answer still on its way is dropped.
            if (checkTarget_) checkTarget_->Close();
            checkTarget_.reset();
            return false;
        case WM_CTLCOLORSTATIC:
            if (kind_ != Kind::SignIn || !failureShown_ || checking_ ||
                reinterpret_cast<HWND>(lParam) != GetDlgItem(hwnd, IDC_SIGN_IN_MESSAGE)) {
                return false;
            }
            // The dialog's own colours, with the text in red.
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_3DFACE));
            SetTextColor(reinterpret_cast<HDC>(wParam), kFailureColour);
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_3DFACE));
            return true;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (kind_ == Kind::SignIn && id == IDC_SIGN_IN_BUTTON && code == BN_CLICKED) {
                if (!checking_) SignIn(hwnd);
            } else if (kind_ == Kind::SignIn && checking_ && id == IDOK) {
                // Enter while the check runs: the disabled Sign-in button's, not a close.
            } else if ((kind_ == Kind::VersionNotice && id == IDC_VERSION_NOTICE_CANCEL) ||
                       (kind_ == Kind::SignIn && id == IDC_SIGN_IN_CANCEL && code == BN_CLICKED)) {
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

void CSVSettings::InitSignIn(HWND hwnd) {
    for (const int id : {IDC_SIGN_IN_USER, IDC_SIGN_IN_PASSWORD}) {
        SendDlgItemMessageW(hwnd, id, EM_LIMITTEXT, kSettingTextMaxLength, 0);
    }
    SetFocus(GetDlgItem(hwnd, IDC_SIGN_IN_USER));
    // The user's stored name only: a password is typed, never shown back.
    SetDlgItemTextW(hwnd, IDC_SIGN_IN_USER, ReadUserText(kUserNameValue).value_or(std::wstring()).c_str());
}

void CSVSettings::SignIn(HWND hwnd) {
    std::wstring user = ControlText(hwnd, IDC_SIGN_IN_USER);
    std::wstring password = ControlText(hwnd, IDC_SIGN_IN_PASSWORD);
    std::optional<std::string> url = SignInCheckUrl(user, password);
    if (!url) {
        ShowSignInMessage(
            hwnd, CompleteSignIn(Settings(), user, password, SignInAnswer{true, false, NetworkError::None}).messageId);
        return;
    }
    // The check runs on a worker: the dialog (and the player behind it) keeps answering meanwhile.
    if (!checkTarget_) checkTarget_ = std::make_shared<PostTarget>(hwnd);
    ++ticket_;
    if (!StartSignInCheck(std::move(*url), checkTarget_, ticket_)) {
        ShowSignInMessage(hwnd, CompleteSignIn(Settings(), user, password, SignInAnswer()).messageId);
        return;
    }
    checkedUser_ = std::move(user);
    checkedPassword_ = std::move(password);
    SetChecking(hwnd, true);
}

void CSVSettings::OnSignInChecked(HWND hwnd, WPARAM ticket, LPARAM packed) {
    if (!checking_ || ticket != ticket_) return;  // an answer nobody waits for
    SetChecking(hwnd, false);
    const SignInOutcome outcome =
        CompleteSignIn(Settings(), checkedUser_, checkedPassword_, UnpackSignInAnswer(packed));
    SecureZeroMemory(checkedPassword_.data(), checkedPassword_.size() * sizeof(wchar_t));
    checkedPassword_.clear();
    if (outcome.signedIn) {
        ShowMessage(resources_, IDS_SIGNED_IN, MB_ICONINFORMATION);
        EndDialog(0);
        return;
    }
    ShowSignInMessage(hwnd, outcome.messageId);
}

void CSVSettings::SetChecking(HWND hwnd, bool on) {
    checking_ = on;
    const bool focusInside = on && IsChild(hwnd, GetFocus());
    for (const int id : {IDC_SIGN_IN_USER, IDC_SIGN_IN_PASSWORD, IDC_SIGN_IN_BUTTON}) {
        EnableWindow(GetDlgItem(hwnd, id), on ? FALSE : TRUE);
    }
    if (focusInside) SetFocus(GetDlgItem(hwnd, IDC_SIGN_IN_CANCEL));
    if (!on) SetFocus(GetDlgItem(hwnd, IDC_SIGN_IN_PASSWORD));
    wchar_t text[kSettingTextChars] = {};
    if (on) LoadStringW(resources_, IDS_SIGNING_IN, text, static_cast<int>(kSettingTextChars));
    const HWND line = GetDlgItem(hwnd, IDC_SIGN_IN_MESSAGE);
    SetWindowTextW(line, text);
    InvalidateRect(line, nullptr, TRUE);
}

void CSVSettings::ShowSignInMessage(HWND hwnd, int messageId) {
    MessageBeep(0);
    failureShown_ = true;
    wchar_t text[kSettingTextChars] = {};
    LoadStringW(resources_, static_cast<UINT>(messageId), text, static_cast<int>(kSettingTextChars));
    const HWND line = GetDlgItem(hwnd, IDC_SIGN_IN_MESSAGE);
    SetWindowTextW(line, text);
    InvalidateRect(line, nullptr, TRUE);
    UpdateWindow(line);
}

void CentreOverOwner(HWND hwnd) {
    RECT dialog;
    if (!GetWindowRect(hwnd, &dialog)) return;
    HWND over = GetParent(hwnd);
    if (!over) over = GetWindow(hwnd, GW_OWNER);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT area = work;
    if (over && IsWindowVisible(over) && !IsIconic(over)) GetWindowRect(over, &area);
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    // Inside the work area, its top left corner first.
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ShowMessage(HINSTANCE resources, const wchar_t* text, UINT type) {
    wchar_t caption[kSettingTextChars] = {};
    LoadStringW(resources, IDS_PLUGIN_NAME, caption, static_cast<int>(kSettingTextChars));
    return MessageBoxW(GetActiveWindow(), text ? text : L"", caption, type);
}

int ShowMessage(HINSTANCE resources, UINT stringId, UINT type) {
    wchar_t text[kSettingTextChars] = {};
    LoadStringW(resources, stringId, text, static_cast<int>(kSettingTextChars));
    return ShowMessage(resources, text, type);
}

}  // namespace sv
