// frmMain on the Windows API: the window with its two path fields and its menus, the message boxes
// (a task dialog where a detail goes with the message) and the common file dialogs, a face over the
// commands of commands.h. Wide-character calls throughout, so that a path in any script works.
#include "commands.h"
#include "version.h"

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using quillarn::FileDialog;
using quillarn::MsgBoxStyle;

// Menu items: the menu's number times 100, plus the item's index in its array.
constexpr int fileItems = 100;
constexpr int convItems = 200;
constexpr int helpItems = 300;
// Posted to the window with a path (a heap copy) to choose once the window is up or a drop is over.
constexpr UINT chooseSourceMessage = WM_APP + 1;

const wchar_t windowClass[] = L"frmMain";

// The layout at 96 dots per inch, in pixels of the client area: {left, top, width, height}.
constexpr RECT labelBoxes[2] = {{16, 16, 73, 25}, {16, 64, 73, 25}};
constexpr RECT pathBoxes[2] = {{108, 8, 353, 37}, {108, 56, 353, 37}};
constexpr int clientWidth = 473;
constexpr int clientHeight = 130;

std::wstring wide(const std::u16string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::u16string text(const wchar_t *wideText)
{
    const std::wstring_view view(wideText);
    return std::u16string(view.begin(), view.end());
}

class WindowsFace : public quillarn::WindowFace {
public:
    explicit WindowsFace(HINSTANCE instance) : instance_(instance) {}

    bool create(int show);
    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int msgBox(const std::u16string &prompt, MsgBoxStyle style, const std::u16string &title,
               const std::u16string &detail) override;
    bool showOpen(FileDialog &dialog) override { return showFileDialog(dialog, false); }
    bool showSave(FileDialog &dialog) override { return showFileDialog(dialog, true); }
    void showPath(int index, const std::u16string &path) override
    {
        SetWindowTextW(paths_[index], wide(path).c_str());
    }
    void exitProgram() override { DestroyWindow(window_); }

    // Posts path to be chosen as the source once the window is free to ask.
    void chooseLater(const std::wstring &path)
    {
        PostMessageW(window_, chooseSourceMessage, 0, reinterpret_cast<LPARAM>(new std::wstring(path)));
    }

private:
    bool showFileDialog(FileDialog &dialog, bool save);
    void layOut(UINT dpi);
    HMENU createMenus();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HWND labels_[2] = {};
    HWND paths_[2] = {};
    HFONT font_ = nullptr;
    quillarn::WindowCommands commands_{*this};
};

WindowsFace *face = nullptr; // the one window's

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return face != nullptr ? face->handle(window, message, wParam, lParam)
                           : DefWindowProcW(window, message, wParam, lParam);
}

HMENU WindowsFace::createMenus()
{
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, fileItems + 0, L"開く(&O)");
    // The save step runs only as the tail of a conversion, never on its own.
    AppendMenuW(file, MF_STRING | MF_GRAYED, fileItems + 1, L"名前を付けて保存(&A)...");
    AppendMenuW(file, MF_SEPARATOR, fileItems + 2, nullptr);
    AppendMenuW(file, MF_STRING, fileItems + 3, L"終了(&X)");
    HMENU conv = CreatePopupMenu();
    AppendMenuW(conv, MF_STRING, convItems + 0, L"UGI→SGF");
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, helpItems + 0, L"ﾊﾞｰｼﾞｮﾝ(&V)...");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"ﾌｧｲﾙ(&F)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(conv), L"変換(&C)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"ﾍﾙﾌﾟ");
    return bar;
}

bool WindowsFace::create(int show)
{
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = windowProcedure;
    type.hInstance = instance_;
    type.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
    type.hIconSm = type.hIcon;
    type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = windowClass;
    if (RegisterClassExW(&type) == 0)
        return false;
    // Its size is fixed: nothing in it reacts to a change of size.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    window_ = CreateWindowExW(0, windowClass, L"" QUILLARN_NAME, style, CW_USEDEFAULT, CW_USEDEFAULT,
                              clientWidth, clientHeight, nullptr, createMenus(), instance_, nullptr);
    if (window_ == nullptr)
        return false;
    const wchar_t *const captions[2] = {L"変換元ﾌｧｲﾙ", L"変換先ﾌｧｲﾙ"};
    for (int i = 0; i < 2; ++i) {
        labels_[i] = CreateWindowExW(0, L"STATIC", captions[i], WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0,
                                     window_, nullptr, instance_, nullptr);
        // A path field: a sunken box that wraps a long path anywhere and shows "&" as it is.
        paths_[i] = CreateWindowExW(WS_EX_CLIENTEDGE, L"STATIC", L"",
                                    WS_CHILD | WS_VISIBLE | SS_LEFT | SS_EDITCONTROL | SS_NOPREFIX, 0, 0, 0,
                                    0, window_, nullptr, instance_, nullptr);
    }
    layOut(GetDpiForWindow(window_));
    DragAcceptFiles(window_, TRUE);
    ShowWindow(window_, show);
    UpdateWindow(window_);
    return true;
}

// Places the controls, and sizes the window around them, at dpi dots per inch, with the system's
// message font at that size.
void WindowsFace::layOut(UINT dpi)
{
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, static_cast<int>(dpi), 96); };
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
        if (font != nullptr) {
            if (font_ != nullptr)
                DeleteObject(font_);
            font_ = font;
        }
    }
    for (int i = 0; i < 2; ++i) {
        const RECT &label = labelBoxes[i];
        const RECT &path = pathBoxes[i];
        SetWindowPos(labels_[i], nullptr, scaled(label.left), scaled(label.top), scaled(label.right),
                     scaled(label.bottom), SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(paths_[i], nullptr, scaled(path.left), scaled(path.top), scaled(path.right),
                     scaled(path.bottom), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(labels_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
        SendMessageW(paths_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    }
    RECT frame{0, 0, scaled(clientWidth), scaled(clientHeight)};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), TRUE, 0, dpi);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT WindowsFace::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id >= fileItems && id < fileItems + 4)
            commands_.mnuFileItem_Click(id - fileItems);
        else if (id == convItems)
            commands_.mnuConvItem_Click(0);
        else if (id == helpItems)
            commands_.mnuHelpItem_Click(0);
        return 0;
    }
    case WM_DROPFILES: {
        const auto drop = reinterpret_cast<HDROP>(wParam);
        // One file at a time, as the open dialog takes one.
        if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
            std::vector<wchar_t> path(DragQueryFileW(drop, 0, nullptr, 0) + 1);
            DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size()));
            chooseLater(path.data()); // answered once the drop is over
        }
        DragFinish(drop);
        return 0;
    }
    case chooseSourceMessage: {
        const std::unique_ptr<std::wstring> path(reinterpret_cast<std::wstring *>(lParam));
        if (IsWindowEnabled(window_)) // not while a dialog of a command is up
            commands_.chooseSource(text(path->c_str()));
        return 0;
    }
    case WM_DPICHANGED: {
        layOut(HIWORD(wParam));
        const RECT *suggested = reinterpret_cast<const RECT *>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int WindowsFace::msgBox(const std::u16string &prompt, MsgBoxStyle style, const std::u16string &title,
                        const std::u16string &detail)
{
    const std::wstring caption = title.empty() ? L"" QUILLARN_NAME : wide(title);
    const bool question = style == MsgBoxStyle::YesNoQuestion;
    if (detail.empty()) {
        // The platform's own box: its answer is the button code the commands expect.
        const UINT flags = question ? MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 : MB_OK;
        const int answer = MessageBoxW(window_, wide(prompt).c_str(), caption.c_str(), flags);
        return question ? (answer == IDYES ? quillarn::msgBoxYes : quillarn::msgBoxNo) : quillarn::msgBoxOk;
    }
    // With a detail: a task dialog, whose expanded information is the detail, shown when asked for.
    const std::wstring content = wide(prompt);
    const std::wstring expanded = wide(detail);
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = window_;
    config.hInstance = instance_;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_EXPAND_FOOTER_AREA | TDF_SIZE_TO_CONTENT;
    config.dwCommonButtons = question ? TDCBF_YES_BUTTON | TDCBF_NO_BUTTON : TDCBF_OK_BUTTON;
    config.nDefaultButton = question ? IDNO : IDOK;
    config.pszWindowTitle = caption.c_str();
    config.pszContent = content.c_str();
    config.pszExpandedInformation = expanded.c_str();
    config.pszCollapsedControlText = L"詳細を表示";
    config.pszExpandedControlText = L"詳細を隠す";
    int button = 0;
    if (FAILED(TaskDialogIndirect(&config, &button, nullptr, nullptr)))
        button = question ? IDNO : IDOK;
    return question ? (button == IDYES ? quillarn::msgBoxYes : quillarn::msgBoxNo) : quillarn::msgBoxOk;
}

bool WindowsFace::showFileDialog(FileDialog &dialog, bool save)
{
    // "description|pattern|..." as the dialog takes it: each part ended by a NUL, then one more.
    std::wstring filter = wide(dialog.Filter);
    for (wchar_t &c : filter) {
        if (c == L'|')
            c = L'\0';
    }
    filter.append(2, L'\0');
    // Room for the longest path the system takes (the \\?\ form of 32,767 characters).
    std::vector<wchar_t> name(32768, L'\0');
    const std::wstring proposed = wide(dialog.FileName);
    if (proposed.size() < name.size())
        std::copy(proposed.begin(), proposed.end(), name.begin());
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = window_;
    request.lpstrFilter = filter.c_str();
    request.nFilterIndex = static_cast<DWORD>(dialog.FilterIndex);
    request.lpstrFile = name.data();
    request.nMaxFile = static_cast<DWORD>(name.size());
    // Any typed name is returned, existing or not: the commands find out what is there, and the
    // save step asks its own question before it replaces a file.
    request.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLESIZING | OFN_LONGNAMES;
    if (!(save ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request)))
        return false; // cancelled, or the dialog could not be shown
    dialog.FileName = text(name.data());
    dialog.FilterIndex = static_cast<int>(request.nFilterIndex);
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WindowsFace window(instance);
    face = &window;
    if (!window.create(show))
        return 1;
    // A record named on the command line, as Explorer names the file it opens, is chosen.
    int count = 0;
    if (wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
        if (count > 1) {
            std::vector<wchar_t> full(32768);
            const DWORD length =
                GetFullPathNameW(arguments[1], static_cast<DWORD>(full.size()), full.data(), nullptr);
            window.chooseLater(length > 0 && length < full.size() ? full.data() : arguments[1]);
        }
        LocalFree(arguments);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    face = nullptr;
    return static_cast<int>(message.wParam);
}
