// Modal dialogs: the small part of a window system that a plug-in's options
// dialog needs, with a terminal as the screen.
//
// A dialog is built from a template (caption, controls with ids, classes,
// texts, styles and rectangles in dialog units) and driven by a dialog
// procedure that receives the usual messages: WM_INITDIALOG once, then
// WM_COMMAND for every user action. The procedure reaches the controls with
// getDlgItem and sendMessage and ends the dialog with endDialog.
//
//   INT_PTR result = platform::dialogBoxParam(instance, 100, parent, proc, 0);
//   if (result == -1) { /* no terminal: the user could not be asked */ }
//
// Screens: a window handle may be a TerminalWindow (what a host running on a
// terminal offers as its main window); a dialog runs on its parent's
// terminal, or on the controlling terminal when the parent is not a terminal
// window. Without a terminal the dialog is not shown. On Windows these are
// the system's own dialogs, windows and messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace platform {

#ifdef _WIN32
// Windows: the system's own types; messages, styles and ids are its macros.
using ::BOOL;
using ::DLGPROC;
using ::HINSTANCE;
using ::HWND;
using ::INT_PTR;
using ::LPARAM;
using ::LRESULT;
using ::UINT;
using ::WPARAM;
#else
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using BOOL = int;

struct Window;
using HWND = Window*;
// A module instance: the base address of the loaded module (see moduleOf).
using HINSTANCE = const void*;

enum : UINT {
    WM_SETTEXT = 0x000C,
    WM_GETTEXT = 0x000D,
    WM_CLOSE = 0x0010,
    WM_INITDIALOG = 0x0110,  // 272
    WM_COMMAND = 0x0111,     // 273
    CB_ADDSTRING = 0x0143,
    CB_GETCOUNT = 0x0146,
    CB_GETCURSEL = 0x0147,
    CB_GETLBTEXT = 0x0148,
    CB_SETCURSEL = 0x014E,
    CB_GETITEMDATA = 0x0150,
    CB_SETITEMDATA = 0x0151,
};
constexpr LRESULT CB_ERR = -1;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int CBN_SELCHANGE = 1;  // notification code in the high word of WM_COMMAND

// Control styles the terminal front end honours.
enum : uint32_t {
    SS_RIGHT = 0x0002,
    BS_DEFPUSHBUTTON = 0x0001,
};

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
#endif

constexpr uint16_t loWord(uintptr_t v) { return uint16_t(v & 0xFFFF); }
constexpr WPARAM makeWParam(uint16_t lo, uint16_t hi) { return WPARAM(lo) | (WPARAM(hi) << 16); }

// One control of a dialog template. Rectangles are in dialog units.
struct DialogItemTemplate {
    uint16_t id;
    const char* windowClass;  // "button", "combobox", "static"
    const char16_t* text;     // initial text; nullptr for none
    uint32_t style;
    int16_t x, y, cx, cy;
};

struct DialogTemplate {
    const char16_t* caption;
    const char16_t* font;
    uint16_t pointSize;
    uint16_t weight;
    uint8_t charset;
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
    const DialogItemTemplate* items;
    size_t itemCount;
};

#ifndef _WIN32
// A host window that stands for a terminal: the dialogs it parents read keys
// from inFd and draw on outFd. Create one with makeTerminalWindow.
struct TerminalWindow;
// Returns a window for the terminal on (inFd, outFd); valid until destroyed
// with destroyTerminalWindow.
HWND makeTerminalWindow(int inFd, int outFd);
void destroyTerminalWindow(HWND window);

#endif

// Module resources. A module registers its dialog templates under its
// instance when it is loaded; dialogBoxParam finds them by instance and id.
// On Windows the templates are the module's compiled dialog resources and
// registering does nothing.
HINSTANCE moduleOf(const void* addressInModule);
void registerDialogTemplate(HINSTANCE instance, int id, const DialogTemplate* dialog);

// The window with the focus (nullptr on a terminal, where there is none).
HWND getForegroundWindow();

// Shows dialog `id` of `instance` modally over the parent and runs its
// procedure until it calls endDialog: on the parent's terminal, or without
// one on the process's controlling terminal (/dev/tty). Returns the value
// given to endDialog, or -1 when the dialog could not be shown (unknown
// template, no terminal), in which case the procedure is never called.
INT_PTR dialogBoxParam(HINSTANCE instance, int id, HWND parent, DLGPROC procedure, LPARAM initParam);
// Whether this process has somewhere to show a dialog without a parent (a
// controlling terminal; on Windows, a desktop).
bool canShowDialogs();

BOOL endDialog(HWND dialog, INT_PTR result);
HWND getDlgItem(HWND dialog, int id);
// Sends a message to a dialog (WM_COMMAND and others go to its procedure) or
// to a control (WM_SETTEXT, WM_GETTEXT with a char16_t buffer, CB_*).
LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Default handling for a dialog procedure: WM_CLOSE on a dialog is turned
// into WM_COMMAND IDCANCEL; everything else answers 0, which on Windows hands
// the message back to the dialog manager.
LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#ifndef _WIN32
// Renders the dialog as text lines (the terminal front end's picture):
// a frame with the caption, controls placed by their dialog units (4 units
// per column, 8 per row), a combo box with its entries listed below it and
// the selected one marked with '>', and right-aligned statics flush right.
std::vector<std::string> renderDialog(HWND dialog);

#endif

}  // namespace platform
