// tovrik-sample for Windows: Form1 as a plain window over the shared SampleClient.
#include <windows.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "sample/library_binding.h"
#include "sample/sample_client.h"
#include "win32/dll_search.h"
#include "win32/dpi.h"
#include "win32/handles.h"
#include "win32/icons.h"
#include "win32/text.h"

namespace {

using namespace tovrik::sample;
using tovrik::win::Narrow;
using tovrik::win::Widen;

constexpr int kLabel1Id = 1;
constexpr int kText1Id = 2;
constexpr int kCommand1Id = 3;
constexpr int kCommand2Id = 4;
constexpr wchar_t kClassName[] = L"TovrikSampleForm1";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct Placement {
    int id;
    TwipRect rect;
};
constexpr Placement kLayout[] = {{kLabel1Id, kLabel1Rect},
                                 {kText1Id, kText1Rect},
                                 {kCommand1Id, kCommand1Rect},
                                 {kCommand2Id, kCommand2Rect}};

class Form1 {
  public:
    Form1(HINSTANCE instance, LibraryBinding& library)
        : instance_(instance), client_(library, [this](const std::string& text) { Show(text); }) {}

    bool Create();
    HWND hwnd() const { return window_.get(); }
    void Load() { client_.Load(); }

  private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Show(const std::string& text) {
        HWND owner = window_ && ::IsWindowVisible(window_.get()) ? window_.get() : nullptr;
        ::MessageBoxW(owner, Widen(text).c_str(), Widen(kProgramTitle).c_str(), MB_OK);
    }
    HWND AddControl(const wchar_t* windowClass, const char* text, DWORD style, DWORD exStyle,
                    int id);
    // Fonts, icons and twip layout at the window's `dpi`; the window takes its size from it
    // unless WM_DPICHANGED gave it one (`suggested`).
    void ApplyDpi(UINT dpi, const LPARAM* suggested);
    std::optional<double> TypedNumber() const;

    HINSTANCE instance_;
    SampleClient client_;
    tovrik::win::UniqueWindow window_;
    tovrik::win::UniqueFont labelFont_;
    tovrik::win::UniqueFont textFont_;
    tovrik::win::UniqueFont buttonFont_;
    tovrik::win::UniqueIcon bigIcon_;
    tovrik::win::UniqueIcon smallIcon_;
    HWND lastFocus_ = nullptr;  // the control that gets the focus back when Form1 is activated
};

tovrik::win::UniqueFont JapaneseFont(double points, UINT dpi) {
    const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
    const std::wstring face = Widen(kJapaneseFace);
    return tovrik::win::UniqueFont(::CreateFontW(
        height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str()));
}

// The system's default GUI font at `dpi` (the stock one is at the system DPI).
tovrik::win::UniqueFont DefaultGuiFont(UINT dpi) {
    LOGFONTW font{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight =
        ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(tovrik::win::SystemDpi()));
    return tovrik::win::UniqueFont(::CreateFontIndirectW(&font));
}

HWND Form1::AddControl(const wchar_t* windowClass, const char* text, DWORD style, DWORD exStyle,
                       int id) {
    return ::CreateWindowExW(exStyle, windowClass, Widen(text).c_str(),
                             WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_.get(),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
}

void Form1::ApplyDpi(UINT dpi, const LPARAM* suggested) {
    HWND hwnd = window_.get();
    tovrik::win::SetWindowIcons(hwnd, instance_, 128, dpi, bigIcon_, smallIcon_);
    // The controls let go of the old fonts before they are deleted.
    tovrik::win::UniqueFont label = JapaneseFont(kLabel1PointSize, dpi);
    tovrik::win::UniqueFont text = JapaneseFont(kText1PointSize, dpi);
    tovrik::win::UniqueFont button = DefaultGuiFont(dpi);
    const double d = dpi;
    for (const Placement& p : kLayout) {
        HWND control = ::GetDlgItem(hwnd, p.id);
        ::SetWindowPos(control, nullptr, TwipsToPixels(p.rect.left, d),
                       TwipsToPixels(p.rect.top, d), TwipsToPixels(p.rect.width, d),
                       TwipsToPixels(p.rect.height, d), SWP_NOZORDER | SWP_NOACTIVATE);
        HFONT font = p.id == kLabel1Id ? label.get() : p.id == kText1Id ? text.get() : button.get();
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    labelFont_ = std::move(label);
    textFont_ = std::move(text);
    buttonFont_ = std::move(button);
    if (suggested != nullptr) {
        tovrik::win::TakeSuggestedRect(hwnd, *suggested);
        return;
    }
    const RECT frame = tovrik::win::FrameForClient(
        {0, 0, TwipsToPixels(kClientWidthTwips, d), TwipsToPixels(kClientHeightTwips, d)}, kStyle,
        false, 0, dpi);
    ::SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Form1::Create() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0) return false;

    // Sized once its DPI is known: the window's monitor decides it.
    HWND hwnd = ::CreateWindowExW(0, kClassName, Widen(text::kWindowTitle).c_str(), kStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance_, this);
    if (hwnd == nullptr) return false;

    // Creation order is the tab order: Text1, Command1, Command2.
    AddControl(L"STATIC", text::kLabel1, SS_LEFT, 0, kLabel1Id);
    HWND text1 =
        AddControl(L"EDIT", text::kText1, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, kText1Id);
    AddControl(L"BUTTON", text::kCommand1, WS_TABSTOP | BS_PUSHBUTTON, 0, kCommand1Id);
    AddControl(L"BUTTON", text::kCommand2, WS_TABSTOP | BS_PUSHBUTTON, 0, kCommand2Id);
    ApplyDpi(tovrik::win::WindowDpi(hwnd), nullptr);
    lastFocus_ = text1;  // takes the focus when the window first shows
    return true;
}

std::optional<double> Form1::TypedNumber() const {
    HWND text1 = ::GetDlgItem(window_.get(), kText1Id);
    std::wstring typed(static_cast<std::size_t>(::GetWindowTextLengthW(text1)) + 1, L'\0');
    typed.resize(static_cast<std::size_t>(
        ::GetWindowTextW(text1, typed.data(), static_cast<int>(typed.size()))));
    // The user's decimal separator, as the Linux sample reads the system locale's.
    wchar_t point[4] = L".";
    ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, point, 4);
    const std::string separator = Narrow(point);
    return ParseTypedNumber(Narrow(typed), separator.size() == 1 ? separator[0] : '.');
}

LRESULT CALLBACK Form1::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_.reset(hwnd);
    }
    auto* self = reinterpret_cast<Form1*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->OnMessage(hwnd, message, wParam, lParam);
}

LRESULT Form1::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kCommand1Id) {
                client_.SendFrequency(TypedNumber());
                return 0;
            }
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kCommand2Id) {
                client_.Suspend();
                return 0;
            }
            break;
        case WM_DPICHANGED:
            ApplyDpi(HIWORD(wParam), &lParam);
            return 0;
        case WM_ACTIVATE:
            // As a dialog does: the focus leaves with the window (to a message box, another
            // program) and comes back to the same control, never to the frame.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = ::GetFocus();
                if (focus != nullptr && ::IsChild(hwnd, focus)) lastFocus_ = focus;
                return 0;
            }
            if (lastFocus_ != nullptr && HIWORD(wParam) == 0) ::SetFocus(lastFocus_);
            return 0;
        case WM_SETFOCUS:
            if (lastFocus_ != nullptr) ::SetFocus(lastFocus_);
            return 0;
        case WM_DESTROY:
            lastFocus_ = nullptr;
            (void)window_.release();
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    // tovrik.dll is loaded by name, as the library's clients do: from beside the program (the
    // ZIP's layout) or from the system folder (the installer's). Nowhere else.
    tovrik::win::RestrictDllSearch(tovrik::win::DllSearch::ProgramFolderAndSystem);
    RuntimeBinding library;
    Form1 form(instance, library);
    if (!form.Create()) return 1;
    form.Load();  // its message comes before the window
    ::ShowWindow(form.hwnd(), show);
    ::UpdateWindow(form.hwnd());
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (form.hwnd() != nullptr && ::IsDialogMessageW(form.hwnd(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
