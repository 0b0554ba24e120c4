// Modal dialogs: the small part of a window system that a plug-in's options
// dialog needs, with a terminal as the screen.
//
// A dialog is built from a template (caption, controls with ids, classes,
// texts, styles and rectangles in dialog units) and driven by a dialog
// procedure that receives the usual messages: kWmInitDialog once, then
// kWmCommand for every user action. The procedure reaches the controls with
// getDlgItem and sendMessage and ends the dialog with endDialog.
//
//   INT_PTR result = platform::dialogBoxParam(instance, 100, parent, proc, 0);
//   if (result == -1) { /* no terminal: the user could not be asked */ }
//
// Screens: a window handle may be a TerminalWindow (what a host running on a
// terminal offers as its main window); a dialog runs on its parent's
// terminal, or on the controlling terminal when the parent is not a terminal
// window. Without a terminal the dialog is not shown. On Windows these are
// the system's own dialogs, windows and messages, and this header gives their
// types and values without the system's headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
// The system's handle types are pointers to these structs; declared here, at
// global scope as the system declares them, so that platform's handles are
// the system's own without its headers.
struct HWND__;
struct HINSTANCE__;
#endif

namespace platform {

// The types of a window system's dialogs. On Windows they are the system's
// own types, of the sizes 64-bit Windows gives them (platform_windows.cpp
// checks that they equal windows.h's), so a dialog procedure, the module's
// resources and its DllMain meet the system without a cast.
using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using BOOL = int;

#ifdef _WIN32
using HWND = ::HWND__*;
using HINSTANCE = ::HINSTANCE__*;
#else
struct Window;
using HWND = Window*;
// A module instance: the base address of the loaded module (see moduleOf).
using HINSTANCE = const void*;
#endif

using DLGPROC = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Messages, notification codes, ids and styles, with the system's values.
// Each is the system's name in k-CamelCase (WM_INITDIALOG is kWmInitDialog,
// CB_ERR kCbErr): windows.h defines the system's names as macros, which would
// rewrite any declaration or use of them in a file that includes both headers.
constexpr UINT kWmSetText = 0x000C;
constexpr UINT kWmGetText = 0x000D;
constexpr UINT kWmClose = 0x0010;
constexpr UINT kWmInitDialog = 0x0110;
constexpr UINT kWmCommand = 0x0111;
constexpr UINT kCbAddString = 0x0143;
constexpr UINT kCbGetCount = 0x0146;
constexpr UINT kCbGetCurSel = 0x0147;
constexpr UINT kCbGetLbText = 0x0148;
constexpr UINT kCbSetCurSel = 0x014E;
constexpr UINT kCbGetItemData = 0x0150;
constexpr UINT kCbSetItemData = 0x0151;
constexpr LRESULT kCbErr = -1;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr uint16_t kCbnSelChange = 1;  // notification code in the high word of WM_COMMAND's wParam

// Control styles the terminal front end honours.
constexpr uint32_t kSsRight = 0x0002;
constexpr uint32_t kBsDefPushButton = 0x0001;

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
#ifdef _WIN32
// A module's DllMain as the system's loader calls it: its instance, the
// notification (kDllProcessAttach once it is mapped into a process) and a
// word it leaves alone. Win64 has one calling convention.
using DllEntry = BOOL (*)(HINSTANCE instance, unsigned long reason, void* reserved);
constexpr unsigned long kDllProcessAttach = 1;
#endif

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
// Sends a message to a dialog (kWmCommand and others go to its procedure) or
// to a control (kWmSetText, kWmGetText with a char16_t buffer, kCb*).
LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Default handling for a dialog procedure: kWmClose on a dialog is turned
// into kWmCommand kIdCancel; everything else answers 0, which on Windows hands
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
