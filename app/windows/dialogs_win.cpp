#include "app/windows/dialogs_win.h"

#include <algorithm>

#include "app/settings/settings_table.h"
#include "app/ui/templates.h"
#include "app/windows/dialog_template_win.h"
#include "win32/handles.h"
#include "win32/text.h"

namespace tovrik::win {
namespace {

constexpr DWORD kModalStyle = DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_CAPTION | WS_SYSMENU;

struct SettingsSession {
    ControllerState values;  // the dialog's copy
};

void ExchangeIn(HWND dialog, const ControllerState& values) {
    for (const StoredSetting& row : SettingsTable) {
        const int value = values.*row.field;
        if (row.edit == SettingEdit::List) {
            HWND list = ::GetDlgItem(dialog, row.controlId);
            const int count = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
            ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(ShownListIndex(value, count)),
                           0);
        } else {
            // A two-state box cannot show a hand-edited 2: only that box gets the third state.
            const int shown = ShownCheckValue(value);
            if (shown == BST_INDETERMINATE) {
                ::SendDlgItemMessageW(dialog, row.controlId, BM_SETSTYLE, BS_AUTO3STATE, FALSE);
            }
            ::CheckDlgButton(dialog, row.controlId, static_cast<UINT>(shown));
        }
    }
}

// A click leaves the third state for checked and the box is two-state from then on, as the
// Qt shell's box behaves; the user never reaches the third state.
void LeaveThirdState(HWND box) {
    if ((::GetWindowLongW(box, GWL_STYLE) & BS_TYPEMASK) != BS_AUTO3STATE) return;
    ::SendMessageW(box, BM_SETSTYLE, BS_AUTOCHECKBOX, TRUE);
    ::SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
}

void ExchangeOut(HWND dialog, ControllerState& values) {
    for (const StoredSetting& row : SettingsTable) {
        if (row.edit == SettingEdit::List) {
            values.*row.field =
                static_cast<int>(::SendDlgItemMessageW(dialog, row.controlId, CB_GETCURSEL, 0, 0));
        } else {
            values.*row.field = static_cast<int>(::IsDlgButtonChecked(dialog, row.controlId));
        }
    }
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            auto* session = reinterpret_cast<SettingsSession*>(lParam);
            for (const StoredSetting& row : SettingsTable) {
                if (row.edit != SettingEdit::List) continue;
                for (const char* entry : ui::DisplayModeEntries()) {
                    const std::wstring text = Widen(entry);
                    ::SendDlgItemMessageW(dialog, row.controlId, CB_ADDSTRING, 0,
                                          reinterpret_cast<LPARAM>(text.c_str()));
                }
            }
            ExchangeIn(dialog, session->values);
            CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
            return TRUE;  // the focus goes to the first tab stop, OK
        }
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) break;
            if (LOWORD(wParam) == IDOK) {
                auto* session =
                    reinterpret_cast<SettingsSession*>(::GetWindowLongPtrW(dialog, DWLP_USER));
                ExchangeOut(dialog, session->values);
                ::EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            LeaveThirdState(reinterpret_cast<HWND>(lParam));
            break;
        default:
            break;
    }
    return FALSE;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CentreOver(dialog, ::GetWindow(dialog, GW_OWNER));
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

void CentreOver(HWND window, HWND owner) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    HMONITOR handle =
        ::MonitorFromWindow(owner != nullptr ? owner : window, MONITOR_DEFAULTTOPRIMARY);
    ::GetMonitorInfoW(handle, &monitor);
    const RECT area = monitor.rcWork;
    RECT centreOf = area;
    if (owner != nullptr && ::IsWindowVisible(owner)) ::GetWindowRect(owner, &centreOf);
    int x = (centreOf.left + centreOf.right - width) / 2;
    int y = (centreOf.top + centreOf.bottom - height) / 2;
    x = std::clamp(x, static_cast<int>(area.left),
                   std::max(static_cast<int>(area.left), static_cast<int>(area.right) - width));
    y = std::clamp(y, static_cast<int>(area.top),
                   std::max(static_cast<int>(area.top), static_cast<int>(area.bottom) - height));
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RunSettingsDialog(HINSTANCE instance, HWND owner, ControllerState& state) {
    SettingsSession session{state};
    const auto words = BuildDialogTemplate(ui::SettingsDialogTemplate(), kModalStyle);
    const INT_PTR result =
        ::DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner,
                                  SettingsProc, reinterpret_cast<LPARAM>(&session));
    if (result != IDOK) return false;
    CopySettings(session.values, state);
    return true;
}

void RunAboutBox(HINSTANCE instance, HWND owner) {
    const auto words = BuildDialogTemplate(ui::AboutDialogTemplate(), kModalStyle);
    ::DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner,
                              AboutProc, 0);
}

}  // namespace tovrik::win
