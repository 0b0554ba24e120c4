// Window records behind HWND. A handle may cross module boundaries (a host
// hands its terminal window to a plug-in that carries its own copy of this
// layer), so every record starts with the same plain header, and terminal
// windows are plain data.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace platform {

constexpr uint32_t kWindowMagic = 0x5A574E44;  // "ZWND"

enum class WindowKind : uint32_t { Terminal = 1, Dialog = 2, Control = 3 };

struct Window {
    uint32_t magic = kWindowMagic;
    WindowKind kind;
    explicit Window(WindowKind k) : kind(k) {}
};

struct TerminalWindow : Window {
    int inFd;
    int outFd;
    TerminalWindow(int in, int out) : Window(WindowKind::Terminal), inFd(in), outFd(out) {}
};

struct DialogWindow;

struct ControlWindow : Window {
    DialogWindow* dialog = nullptr;
    uint16_t id = 0;
    std::string windowClass;
    std::u16string text;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    struct Item {
        std::u16string text;
        LRESULT data = 0;
    };
    std::vector<Item> items;
    int selection = -1;
    ControlWindow() : Window(WindowKind::Control) {}
};

struct DialogWindow : Window {
    const DialogTemplate* dialogTemplate = nullptr;
    DLGPROC procedure = nullptr;
    std::vector<std::unique_ptr<ControlWindow>> controls;
    bool ended = false;
    INT_PTR result = 0;
    DialogWindow() : Window(WindowKind::Dialog) {}
};

// The record behind a handle when it is of that kind, else nullptr.
TerminalWindow* asTerminal(HWND window);
DialogWindow* asDialog(HWND window);
ControlWindow* asControl(HWND window);

// Builds the dialog's controls from its template.
std::unique_ptr<DialogWindow> createDialog(const DialogTemplate& dialogTemplate, DLGPROC procedure);
const DialogTemplate* findDialogTemplate(HINSTANCE instance, int id);

// Runs the dialog modally on the terminal (inFd, outFd): sends
// WM_INITDIALOG, then turns keys into commands until the dialog ends.
INT_PTR runOnTerminal(DialogWindow& dialog, int inFd, int outFd, LPARAM initParam);

}  // namespace platform
