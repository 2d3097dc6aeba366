// CSVSettings: the plug-in's modal dialogs. Runs the version notice (dialog 102), shown when the
// player is older than version 11, and the sign-in dialog, which checks the user's name and
// password with the lyrics service.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "base/post_target.h"
#include "window/window_base.h"

namespace sv {

// The modal dialog that runs the sign-in and the version notice (not a settings page).
class CSVSettings : public DialogBase {
public:
    static constexpr COLORREF kFailureColour = RGB(255, 0, 0);

    CSVSettings() = default;
    ~CSVSettings() override = default;

    // Shows the version notice centred over owner and waits until it is closed. Returns 0 for its
    // Cancel button, the command id for any other standard command (IDCANCEL from Escape, say), -1
    // when the dialog could not be shown.
    INT_PTR ShowVersionNotice(HINSTANCE resources, HWND owner);
    // Runs the sign-in dialog owned by owner until the user signs in (0), cancels (0) or closes it
    // another way (that command's id). A successful check stores the credentials and says so.
    INT_PTR ShowSignIn(HINSTANCE resources, HWND owner);

    // A check is with the service: the fields and the Sign-in button are disabled, Cancel is not.
    bool Checking() const { return checking_; }

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    enum class Kind { VersionNotice, SignIn };
    void InitSignIn(HWND hwnd);
    void SignIn(HWND hwnd);
    void OnSignInChecked(HWND hwnd, WPARAM ticket, LPARAM answer);
    void SetChecking(HWND hwnd, bool on);
    void ShowSignInMessage(HWND hwnd, int messageId);

    Kind kind_ = Kind::VersionNotice;
    HINSTANCE resources_ = nullptr;
    bool failureShown_ = false;
    // The check under way: its answer is taken only while checking_ and only with this ticket;
    // the target closes with the dialog, so a late answer goes nowhere.
    bool checking_ = false;
    WPARAM ticket_ = 0;
    std::shared_ptr<PostTarget> checkTarget_;
    std::wstring checkedUser_;
    std::wstring checkedPassword_;
};

// Centres a window over its owner (or its parent); over the work area when it has neither or the
// window it would centre on is hidden or minimised. The window ends up inside the work area.
void CentreOverOwner(HWND hwnd);

// A message box captioned with the plug-in's name (string 100), owned by the thread's active
// window; the text is a string-table entry of resources (at most 259 characters).
int ShowMessage(HINSTANCE resources, const wchar_t* text, UINT type);
int ShowMessage(HINSTANCE resources, UINT stringId, UINT type);

}  // namespace sv
