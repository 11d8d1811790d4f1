#include "app/windows/main_window_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include <utility>

#include "app/settings/settings_store.h"
#include "app/ui/templates.h"
#include "app/windows/dialog_template_win.h"
#include "app/windows/dialogs_win.h"
#include "app/windows/dpi_win.h"
#include "app/windows/label_fonts_win.h"
#include "app/windows/wheel_routing_win.h"
#include "app/windows/win_text.h"

namespace tovrik::win {

struct MainWindow::Command {
    int firstId;
    int lastId;
    void (MainWindow::*handler)(int id);
};

std::span<const MainWindow::Command> MainWindow::CommandTable() {
    static constexpr Command kTable[] = {
        {control::kFirstStepButton, control::kFineStepButton, &MainWindow::OnStep},
        {control::kReadout, control::kReadout, &MainWindow::OnReadoutClick},
        {control::kPresetM1, control::kPresetM3, &MainWindow::OnPreset},
        {control::kWriteButton, control::kWriteButton, &MainWindow::OnWriteMode},
        {control::kOutputButton, control::kOutputButton, &MainWindow::OnOutput},
        {control::kExitButton, control::kExitButton, &MainWindow::OnExit},
        {ui::command::kSettings, ui::command::kSettings, &MainWindow::OnSettings},
        {ui::command::kFirmwareVersion, ui::command::kFirmwareVersion,
         &MainWindow::OnFirmwareVersion},
    };
    return kTable;
}

namespace {

// A modeless dialog without minimise or maximise box; a modal frame is not resized.
constexpr DWORD kMainStyle = DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// Posted after a DPI change, with the new DPI.
constexpr UINT kDpiApplied = WM_APP + 1;

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, DevicePlatform& platform, std::wstring applicationName,
                       std::filesystem::path readFrom, std::filesystem::path profilePath)
    : instance_(instance),
      applicationName_(std::move(applicationName)),
      readFrom_(std::move(readFrom)),
      profilePath_(std::move(profilePath)),
      controller_(platform, *this) {}

MainWindow::~MainWindow() {
    // Destroying the window saves the settings, whichever way it goes.
    DestroyWindow();
    SaveSettingsOnce();
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
    controller_.ConnectAtStartup();
    const IniProfile profile(readFrom_);
    const int step = LoadSettings(profile, controller_.state());
    ::CheckDlgButton(hwnd, StepTable[static_cast<std::size_t>(step)].buttonId, BST_CHECKED);
    if (controller_.state().outputOn != 0) SetButtonChecked(control::kOutputButton, true);
    controller_.Refresh();
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
    if (::SetMenu(hwnd, menu.get())) menu.release();  // the window destroys it now
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
            if (HIWORD(wParam) == 0) OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == static_cast<WPARAM>(ui::command::kAbout)) {
                RunAboutBox(instance_, hwnd);
                return TRUE;
            }
            return FALSE;
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
        case WM_DESTROY:
            SaveSettingsOnce();
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

void MainWindow::OnCommand(int id) {
    for (const Command& command : CommandTable()) {
        if (id >= command.firstId && id <= command.lastId) {
            (this->*command.handler)(id);
            return;
        }
    }
}

void MainWindow::OnStep(int id) {
    if (const auto hz = StepOfButton(id)) controller_.SelectStep(*hz);
}

void MainWindow::OnReadoutClick(int) {
    controller_.ToggleEntry();
}

void MainWindow::OnPreset(int id) {
    controller_.PressPreset(id - control::kPresetM1);
}

void MainWindow::OnWriteMode(int) {
    controller_.ToggleWriteMode();
    // The click has checked the radio button; it shows the flag, whatever the click did.
    SetButtonChecked(control::kWriteButton, controller_.state().writeMode != 0);
}

void MainWindow::OnOutput(int) {
    controller_.ToggleOutput();
    SetButtonChecked(control::kOutputButton, controller_.state().outputOn != 0);
}

void MainWindow::OnExit(int) {
    controller_.ExitProgram();
}

void MainWindow::OnSettings(int) {
    if (RunSettingsDialog(instance_, window_.get(), controller_.state())) controller_.Refresh();
}

void MainWindow::OnFirmwareVersion(int) {
    controller_.ShowFirmwareVersion();
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

std::optional<int> MainWindow::PressedStepIndex() const {
    std::optional<int> pressed;
    for (std::size_t i = 0; i < StepTable.size(); ++i) {
        if (::IsDlgButtonChecked(window_.get(), StepTable[i].buttonId) == BST_CHECKED) {
            pressed = static_cast<int>(i);
        }
    }
    return pressed;
}

void MainWindow::SaveSettingsOnce() {
    if (settingsSaved_) return;
    settingsSaved_ = true;
    // Read the file again: keys another copy of the program wrote meanwhile stay; on a first
    // run that is the older installation's file, saved to the new place.
    IniProfile profile(ProfileToRead(profilePath_, Narrow(applicationName_)), profilePath_);
    SaveSettings(profile, controller_.state(), PressedStepIndex());
    profile.Save();  // a failed save stays silent
}

}  // namespace tovrik::win
