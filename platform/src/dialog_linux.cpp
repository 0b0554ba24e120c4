// Dialog windows and their controls: templates, messages and the modal runner.
#include "platform/dialog.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "dialog_window.h"
#include "platform/platform.h"

namespace platform {

TerminalWindow* asTerminal(HWND window)
{
    return window && window->magic == kWindowMagic && window->kind == WindowKind::Terminal
               ? static_cast<TerminalWindow*>(window)
               : nullptr;
}

DialogWindow* asDialog(HWND window)
{
    return window && window->magic == kWindowMagic && window->kind == WindowKind::Dialog
               ? static_cast<DialogWindow*>(window)
               : nullptr;
}

ControlWindow* asControl(HWND window)
{
    return window && window->magic == kWindowMagic && window->kind == WindowKind::Control
               ? static_cast<ControlWindow*>(window)
               : nullptr;
}

HWND makeTerminalWindow(int inFd, int outFd) { return new TerminalWindow(inFd, outFd); }

void destroyTerminalWindow(HWND window) { delete asTerminal(window); }

HWND getForegroundWindow() { return nullptr; }

HINSTANCE moduleOf(const void* addressInModule)
{
    // The base address of the mapped module is what identifies it, as an
    // instance handle does elsewhere.
    Dl_info info{};
    if (dladdr(addressInModule, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

namespace {

struct TemplateEntry {
    HINSTANCE instance;
    int id;
    const DialogTemplate* dialog;
};

std::mutex& registryLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<TemplateEntry>& registry()
{
    static std::vector<TemplateEntry> entries;
    return entries;
}

}  // namespace

void registerDialogTemplate(HINSTANCE instance, int id, const DialogTemplate* dialog)
{
    std::lock_guard<std::mutex> guard(registryLock());
    for (auto& e : registry())
        if (e.instance == instance && e.id == id) {
            e.dialog = dialog;
            return;
        }
    registry().push_back({instance, id, dialog});
}

const DialogTemplate* findDialogTemplate(HINSTANCE instance, int id)
{
    std::lock_guard<std::mutex> guard(registryLock());
    for (const auto& e : registry())
        if (e.instance == instance && e.id == id)
            return e.dialog;
    return nullptr;
}

std::unique_ptr<DialogWindow> createDialog(const DialogTemplate& dialogTemplate, DLGPROC procedure)
{
    auto dialog = std::make_unique<DialogWindow>();
    dialog->dialogTemplate = &dialogTemplate;
    dialog->procedure = procedure;
    for (size_t i = 0; i < dialogTemplate.itemCount; ++i) {
        const DialogItemTemplate& item = dialogTemplate.items[i];
        auto control = std::make_unique<ControlWindow>();
        control->dialog = dialog.get();
        control->id = item.id;
        control->windowClass = item.windowClass ? item.windowClass : "";
        control->text = item.text ? item.text : u"";
        control->style = item.style;
        control->x = item.x;
        control->y = item.y;
        control->cx = item.cx;
        control->cy = item.cy;
        dialog->controls.push_back(std::move(control));
    }
    return dialog;
}

INT_PTR dialogBoxParam(HINSTANCE instance, int id, HWND parent, DLGPROC procedure, LPARAM initParam)
{
    const DialogTemplate* dialogTemplate = findDialogTemplate(instance, id);
    if (!dialogTemplate || !procedure)
        return -1;
    // The dialog appears on the parent's terminal; a parent that is no
    // terminal (or none) means the process's controlling terminal, whatever
    // its standard input and output were redirected to.
    int inFd = -1, outFd = -1, own = -1;
    if (TerminalWindow* terminal = asTerminal(parent)) {
        inFd = terminal->inFd;
        outFd = terminal->outFd;
    } else {
        inFd = outFd = own = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    INT_PTR result = -1;
    if (inFd >= 0 && outFd >= 0 && isatty(inFd) && isatty(outFd)) {
        auto dialog = createDialog(*dialogTemplate, procedure);
        result = runOnTerminal(*dialog, inFd, outFd, initParam);
    }
    if (own >= 0)
        close(own);
    return result;
}

bool canShowDialogs()
{
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

BOOL endDialog(HWND window, INT_PTR result)
{
    DialogWindow* dialog = asDialog(window);
    if (!dialog)
        return 0;
    dialog->ended = true;
    dialog->result = result;
    return 1;
}

HWND getDlgItem(HWND window, int id)
{
    DialogWindow* dialog = asDialog(window);
    if (!dialog)
        return nullptr;
    for (auto& control : dialog->controls)
        if (control->id == id)
            return control.get();
    return nullptr;
}

namespace {

LRESULT controlMessage(ControlWindow& control, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto validIndex = [&](WPARAM index) { return index < control.items.size(); };
    switch (message) {
    case kWmSetText:
        control.text = lParam ? reinterpret_cast<const char16_t*>(lParam) : u"";
        return 1;
    case kWmGetText: {
        // wParam is the buffer's capacity in characters, NUL included.
        auto* out = reinterpret_cast<char16_t*>(lParam);
        if (!out || wParam == 0)
            return 0;
        size_t n = std::min<size_t>(control.text.size(), wParam - 1);
        std::copy_n(control.text.begin(), n, out);
        out[n] = 0;
        return LRESULT(n);
    }
    default:
        break;
    }
    if (control.windowClass != "combobox")
        return 0;
    switch (message) {
    case kCbAddString:
        // Unsorted list: entries are appended.
        control.items.push_back({lParam ? reinterpret_cast<const char16_t*>(lParam) : u"", 0});
        return LRESULT(control.items.size() - 1);
    case kCbGetCount:
        return LRESULT(control.items.size());
    case kCbSetItemData:
        if (!validIndex(wParam))
            return kCbErr;
        control.items[wParam].data = lParam;
        return 1;
    case kCbGetItemData:
        return validIndex(wParam) ? control.items[wParam].data : kCbErr;
    case kCbSetCurSel:
        // An index out of range clears the selection and reports CB_ERR.
        if (!validIndex(wParam)) {
            control.selection = -1;
            return kCbErr;
        }
        control.selection = int(wParam);
        return LRESULT(wParam);
    case kCbGetCurSel:
        return control.selection;
    case kCbGetLbText: {
        if (!validIndex(wParam))
            return kCbErr;
        const std::u16string& text = control.items[wParam].text;
        if (auto* out = reinterpret_cast<char16_t*>(lParam)) {
            std::copy(text.begin(), text.end(), out);
            out[text.size()] = 0;
        }
        return LRESULT(text.size());
    }
    default:
        return 0;
    }
}

}  // namespace

LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (DialogWindow* dialog = asDialog(window))
        return dialog->procedure ? dialog->procedure(window, message, wParam, lParam) : 0;
    if (ControlWindow* control = asControl(window))
        return controlMessage(*control, message, wParam, lParam);
    return 0;
}

LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    (void)lParam;
    // Closing a dialog by its close box means Cancel, as the dialog manager
    // of a window system does it.
    if (message == kWmClose && asDialog(window))
        return sendMessage(window, kWmCommand, makeWParam(kIdCancel, 0),
                           reinterpret_cast<LPARAM>(getDlgItem(window, kIdCancel)));
    return 0;
}

}  // namespace platform
