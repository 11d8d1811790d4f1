// tovrik-sample for Windows: Form1 as a plain window over the shared SampleClient.
#include <windows.h>

#include <array>
#include <cmath>
#include <string>

#include "app/windows/win_handles.h"
#include "app/windows/win_text.h"
#include "sample/library_binding.h"
#include "sample/sample_client.h"

namespace {

using namespace tovrik::sample;
using tovrik::win::Narrow;
using tovrik::win::Widen;

constexpr int kLabel1Id = 1;
constexpr int kText1Id = 2;
constexpr int kCommand1Id = 3;
constexpr int kCommand2Id = 4;
constexpr wchar_t kClassName[] = L"TovrikSampleForm1";

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
                    const TwipRect& rect, int id, HFONT font);
    std::optional<double> TypedNumber() const;

    HINSTANCE instance_;
    SampleClient client_;
    tovrik::win::UniqueWindow window_;
    tovrik::win::UniqueFont labelFont_;
    tovrik::win::UniqueFont textFont_;
    tovrik::win::UniqueIcon bigIcon_;
    tovrik::win::UniqueIcon smallIcon_;
    double dpi_ = 96.0;
};

tovrik::win::UniqueFont JapaneseFont(double points, double dpi) {
    const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
    const std::wstring face = Widen(kJapaneseFace);
    return tovrik::win::UniqueFont(::CreateFontW(
        height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str()));
}

HWND Form1::AddControl(const wchar_t* windowClass, const char* text, DWORD style, DWORD exStyle,
                       const TwipRect& r, int id, HFONT font) {
    HWND control = ::CreateWindowExW(
        exStyle, windowClass, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
        TwipsToPixels(r.left, dpi_), TwipsToPixels(r.top, dpi_), TwipsToPixels(r.width, dpi_),
        TwipsToPixels(r.height, dpi_), window_.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    HFONT shown = font != nullptr ? font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(shown), FALSE);
    return control;
}

bool Form1::Create() {
    bigIcon_ = tovrik::win::LoadAppIcon(instance_, 128, SM_CXICON, SM_CYICON);
    smallIcon_ = tovrik::win::LoadAppIcon(instance_, 128, SM_CXSMICON, SM_CYSMICON);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = bigIcon_.get();
    windowClass.hIconSm = smallIcon_.get();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0) return false;

    {
        HDC screen = ::GetDC(nullptr);
        dpi_ = ::GetDeviceCaps(screen, LOGPIXELSX);
        ::ReleaseDC(nullptr, screen);
    }
    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi_),
               TwipsToPixels(kClientHeightTwips, dpi_)};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    HWND hwnd = ::CreateWindowExW(0, kClassName, Widen(text::kWindowTitle).c_str(), kStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (hwnd == nullptr) return false;

    labelFont_ = JapaneseFont(kLabel1PointSize, dpi_);
    textFont_ = JapaneseFont(kText1PointSize, dpi_);
    // Creation order is the tab order: Text1, Command1, Command2.
    AddControl(L"STATIC", text::kLabel1, SS_LEFT, 0, kLabel1Rect, kLabel1Id, labelFont_.get());
    HWND text1 = AddControl(L"EDIT", text::kText1, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                            kText1Rect, kText1Id, textFont_.get());
    AddControl(L"BUTTON", text::kCommand1, WS_TABSTOP | BS_PUSHBUTTON, 0, kCommand1Rect,
               kCommand1Id, nullptr);
    AddControl(L"BUTTON", text::kCommand2, WS_TABSTOP | BS_PUSHBUTTON, 0, kCommand2Rect,
               kCommand2Id, nullptr);
    ::SetFocus(text1);
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
        case WM_DESTROY:
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
