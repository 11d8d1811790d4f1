#include "app/windows/main_window_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>
#include <utility>

#include "app/ui/templates.h"
#include "app/windows/dialog_template_win.h"
#include "app/windows/dialogs_win.h"
#include "app/windows/label_fonts_win.h"
#include "app/windows/wheel_routing_win.h"
#include "win32/dpi.h"
#include "win32/icons.h"
#include "win32/text.h"

namespace tovrik::win {

namespace {

constexpr const char* kSaveFailedText = "設定を保存できませんでした。";

// A modeless dialog without minimise or maximise box; a modal frame is not resized.
constexpr DWORD kMainStyle = DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// Posted after a DPI change, with the new DPI.
constexpr UINT kDpiApplied = WM_APP + 1;

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, DevicePlatform& platform, std::wstring applicationName,
                       std::filesystem::path profilePath)
    : instance_(instance),
      applicationName_(std::move(applicationName)),
      presenter_(platform, *this, *this, std::move(profilePath), Narrow(applicationName_)) {}

MainWindow::~MainWindow() {
    // Destroying the window saves the settings, whichever way it goes.
    DestroyWindow();
    presenter_.SaveOnClose();
}

bool MainWindow::Create() {
    const auto words = BuildDialogTemplate(ui::MainDialogTemplate(), kMainStyle);
    HWND hwnd =
        ::CreateDialogIndirectParamW(instance_, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                     nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) return false;
    InitMainWindow();
    return true;
}

void MainWindow::InitMainWindow() {
    HWND hwnd = window_.get();
    const UINT dpi = WindowDpi(hwnd);
    SetWindowIcons(hwnd, instance_, ui::kIconId, dpi, bigIcon_, smallIcon_);
    AddMenus();
    ApplyFonts(dpi);
    RouteWheelToWindow(hwnd);
    presenter_.Start();
    ::SendMessageW(hwnd, WM_NEXTDLGCTL,
                   reinterpret_cast<WPARAM>(::GetDlgItem(hwnd, control::kPresetM1)), TRUE);
}

void MainWindow::AddMenus() {
    HWND hwnd = window_.get();
    UniqueMenu menu(::CreateMenu());
    for (const ui::MenuItem& item : ui::MainMenu()) {
        ::AppendMenuW(menu.get(), MF_STRING, static_cast<UINT_PTR>(item.commandId),
                      Widen(item.text).c_str());
    }
    // The template sized the client area without a menu bar; keep that client size.
    RECT client{};
    ::GetClientRect(hwnd, &client);
    if (::SetMenu(hwnd, menu.get())) (void)menu.release();  // the window destroys it now
    RECT frame = client;
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE)), TRUE,
                         static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
    ::SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    HMENU system = ::GetSystemMenu(hwnd, FALSE);
    const ui::MenuItem& about = ui::AboutMenuItem();
    ::AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(system, MF_STRING, static_cast<UINT_PTR>(about.commandId),
                  Widen(about.text).c_str());
}

void MainWindow::ApplyFonts(UINT dpi) {
    HWND hwnd = window_.get();
    // The dialog's own font and layout scale with the DPI by themselves.
    UniqueFont caption = CaptionFont(dpi);
    UniqueFont readout = ReadoutFont(dpi);
    ::SendDlgItemMessageW(hwnd, control::kReadoutCaption, WM_SETFONT,
                          reinterpret_cast<WPARAM>(caption.get()), TRUE);
    ::SendDlgItemMessageW(hwnd, control::kReadout, WM_SETFONT,
                          reinterpret_cast<WPARAM>(readout.get()), TRUE);
    // Deleted only once the controls no longer use them.
    captionFont_ = std::move(caption);
    readoutFont_ = std::move(readout);
}

void MainWindow::ShowCentred() {
    CentreOver(window_.get(), nullptr);
    ::ShowWindow(window_.get(), SW_SHOWNORMAL);
    ::UpdateWindow(window_.get());
}

// ---------------------------------------------------------------------------------------------
// Messages

INT_PTR CALLBACK MainWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        reinterpret_cast<MainWindow*>(lParam)->window_.reset(hwnd);
        return FALSE;  // the focus is set once the controls are filled
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = window_.get();
    switch (message) {
        case WM_COMMAND:
            // Clicks of buttons and of the readout (STN_CLICKED) and menu commands are all 0.
            if (HIWORD(wParam) == 0) presenter_.OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            return presenter_.OnSystemCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == static_cast<UINT_PTR>(control::kSpin) &&
                header->code == UDN_DELTAPOS) {
                const auto* updown = reinterpret_cast<const NMUPDOWN*>(lParam);
                ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT,
                                    controller_.ApplySpinDelta(updown->iDelta));
                return TRUE;
            }
            return FALSE;
        }
        case WM_DPICHANGED:
            // Moved to a monitor with another scale. The dialog manager's default handling
            // rescales the layout and hands every control the new dialog font; the icons and
            // the two label fonts are set again once it is done.
            TakeSuggestedRect(hwnd, lParam);
            ::PostMessageW(hwnd, kDpiApplied, HIWORD(wParam), 0);
            return FALSE;
        case kDpiApplied:
            SetWindowIcons(hwnd, instance_, ui::kIconId, static_cast<UINT>(wParam), bigIcon_,
                           smallIcon_);
            ApplyFonts(static_cast<UINT>(wParam));
            return TRUE;
        case WM_MOUSEWHEEL:
            controller_.ApplyWheelDelta(static_cast<std::int16_t>(GET_WHEEL_DELTA_WPARAM(wParam)));
            return TRUE;
        case WM_CLOSE:
            // The close box and Alt+F4 skip the exit command: nothing is sent.
            DestroyWindow();
            return TRUE;
        case WM_ENDSESSION:
            // Sign-out, shutdown or an update restart: Windows ends the process after this
            // without a WM_DESTROY. The output is left as the close box leaves it.
            if (wParam != FALSE) presenter_.SaveOnClose();
            return TRUE;
        case WM_DESTROY:
            // Before the quit message, which would end a failed save's message box at once.
            presenter_.SaveOnClose();
            ::PostQuitMessage(0);
            return TRUE;
        default:
            return FALSE;
    }
}

bool MainWindow::PreTranslate(const MSG& message) {
    HWND hwnd = window_.get();
    if (hwnd == nullptr || message.message != WM_KEYDOWN) return false;
    if (message.hwnd != hwnd && !::IsChild(hwnd, message.hwnd)) return false;
    return controller_.PreviewKey(static_cast<int>(message.wParam)) == KeyResult::Consumed;
}

// ---------------------------------------------------------------------------------------------
// ControllerWindow

void MainWindow::SetControlText(int controlId, const std::string& text) {
    ::SetDlgItemTextW(window_.get(), controlId, Widen(text).c_str());
}

void MainWindow::SetButtonChecked(int controlId, bool checked) {
    ::SendDlgItemMessageW(window_.get(), controlId, BM_SETCHECK,
                          checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::ShowMessage(const std::string& text, MessageIcon icon) {
    HWND hwnd = window_.get();
    // Owned by the window once it shows; during start-up the box stands alone.
    HWND owner = hwnd != nullptr && ::IsWindowVisible(hwnd) ? hwnd : nullptr;
    ::MessageBoxW(owner, Widen(text).c_str(), applicationName_.c_str(),
                  MB_OK | static_cast<UINT>(icon));
}

void MainWindow::Beep() {
    ::MessageBeep(0);
}

void MainWindow::DestroyWindow() {
    // WM_DESTROY saves the settings (the controls still exist then) and ends the message loop;
    // the handle is given up only afterwards.
    if (window_) ::DestroyWindow(window_.get());
    (void)window_.release();
}

// ---------------------------------------------------------------------------------------------
// MainWindowShell

bool MainWindow::RunSettingsDialog(ControllerState& state) {
    return win::RunSettingsDialog(instance_, window_.get(), state);
}

void MainWindow::RunAboutBox() {
    win::RunAboutBox(instance_, window_.get());
}

void MainWindow::ReportSaveFailure(const SaveResult& failure) {
    // The window is gone: a box of its own names the file and the system's reason.
    const std::wstring text = Widen(kSaveFailedText) + L"\n" + failure.path.wstring() + L"\n" +
                              Widen(failure.reason.message());
    ::MessageBoxW(nullptr, text.c_str(), applicationName_.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void MainWindow::Diagnose(const std::string& line) {
    // A GUI program's stderr goes nowhere; DebugView (or Wine's debug output) shows this.
    ::OutputDebugStringW(Widen(line + "\n").c_str());
}

}  // namespace tovrik::win
