// The terminal front end of modal dialogs: draws the dialog as text and turns
// keys into the commands a dialog procedure expects.
//
// Keys: Up/Down (or k/j) move the selection of the dialog's list, a digit
// selects that entry; each change reaches the procedure as the list's
// CBN_SELCHANGE command. Enter presses the default button (OK), Esc or q
// presses Cancel, and Ctrl-C, Ctrl-D or the end of input close the dialog.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "dialog_window.h"
#include "platform/platform.h"

namespace platform {

namespace {

// Dialog units to character cells: a column is 4 units wide, a row 8 high.
int toColumn(int units) { return (units + 2) / 4; }
int toRow(int units) { return (units + 4) / 8; }

bool isCombo(const ControlWindow& c) { return c.windowClass == "combobox"; }

void put(std::string& line, size_t column, const std::string& text)
{
    if (line.size() < column + text.size())
        line.resize(column + text.size(), ' ');
    line.replace(column, text.size(), text);
}

std::string centred(const std::string& text, size_t width)
{
    if (text.size() >= width)
        return text;
    size_t left = (width - text.size()) / 2;
    return std::string(left, ' ') + text + std::string(width - text.size() - left, ' ');
}

ControlWindow* firstCombo(DialogWindow& dialog)
{
    for (auto& c : dialog.controls)
        if (isCombo(*c))
            return c.get();
    return nullptr;
}

}  // namespace

std::vector<std::string> renderDialog(HWND window)
{
    DialogWindow* dialog = asDialog(window);
    if (!dialog)
        return {};
    const DialogTemplate& t = *dialog->dialogTemplate;
    const size_t width = size_t(toColumn(t.cx)) + 1;
    int rows = toRow(t.cy);

    // A drop-down list is shown opened: its entries take the rows below it,
    // and the controls further down move just far enough to leave one blank
    // row under the list.
    ControlWindow* combo = firstCombo(*dialog);
    int listRow = combo ? toRow(combo->y) + 1 : 0;
    int extra = 0;
    if (combo) {
        int firstBelow = rows;
        for (const auto& c : dialog->controls)
            if (toRow(c->y) >= listRow)
                firstBelow = std::min(firstBelow, toRow(c->y));
        extra = std::max(0, listRow + int(combo->items.size()) + 1 - firstBelow);
    }
    auto rowOf = [&](const ControlWindow& c) {
        int r = toRow(c.y);
        return combo && r >= listRow ? r + extra : r;
    };
    rows += extra;

    std::vector<std::string> body(static_cast<size_t>(rows));
    for (const auto& c : dialog->controls) {
        int row = rowOf(*c);
        if (row < 0 || row >= rows)
            continue;
        size_t column = size_t(toColumn(c->x));
        size_t span = size_t(std::max(toColumn(c->cx), 1));
        std::string text = utf16ToUtf8(c->text);
        std::string cell;
        if (c->windowClass == "button") {
            // One column less than the button's span keeps neighbours apart.
            cell = "[" + centred(text, span > 3 ? span - 3 : 0) + "]";
        } else if (isCombo(*c)) {
            std::string current = c->selection >= 0 ? utf16ToUtf8(c->items[size_t(c->selection)].text) : std::string();
            size_t inner = span > 4 ? span - 4 : 0;
            if (current.size() > inner)
                current.resize(inner);
            cell = "[" + current + std::string(inner - current.size(), ' ') + " v]";
            for (size_t i = 0; i < c->items.size(); ++i) {
                std::string entry =
                    (int(i) == c->selection ? "> " : "  ") + std::to_string(i) + "  " + utf16ToUtf8(c->items[i].text);
                put(body[size_t(listRow) + i], column + 1, entry);
            }
        } else if ((c->style & 0x3) == kSsRight && text.size() < span) {
            cell = std::string(span - text.size(), ' ') + text;
        } else {
            cell = text;
        }
        put(body[size_t(row)], column, cell);
    }

    std::vector<std::string> lines;
    std::string caption = "+- " + utf16ToUtf8(t.caption ? t.caption : u"") + " ";
    size_t innerWidth = width;
    for (const auto& line : body)
        innerWidth = std::max(innerWidth, line.size() + 1);
    innerWidth = std::max(innerWidth, caption.size());
    caption.resize(innerWidth + 1, '-');
    lines.push_back(caption + "+");
    for (auto& line : body) {
        line.resize(innerWidth, ' ');
        lines.push_back("|" + line + "|");
    }
    lines.push_back("+" + std::string(innerWidth, '-') + "+");
    return lines;
}

namespace {

// Raw mode for the length of a dialog; restored on every way out.
class RawMode {
public:
    explicit RawMode(int fd) : fd_(fd)
    {
        active_ = tcgetattr(fd_, &saved_) == 0;
        if (active_) {
            termios raw = saved_;
            cfmakeraw(&raw);
            tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    ~RawMode()
    {
        if (active_)
            tcsetattr(fd_, TCSANOW, &saved_);
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

enum class Key { None, Up, Down, Digit, Enter, Cancel, Close };

struct KeyEvent {
    Key key;
    int digit = 0;
};

// Reads keys from a raw terminal. A lone Esc is told from the start of an
// arrow key's sequence by waiting briefly for the rest of the sequence.
class KeyReader {
public:
    explicit KeyReader(int fd) : fd_(fd) {}

    KeyEvent next()
    {
        for (;;) {
            if (pending_.empty() && !fill(-1))
                return {Key::Close};
            unsigned char c = static_cast<unsigned char>(pending_[0]);
            if (c == 0x1b) {
                if (pending_.size() < 3)
                    fill(50);
                if (pending_.size() >= 3 && (pending_[1] == '[' || pending_[1] == 'O')) {
                    char code = pending_[2];
                    pending_.erase(0, 3);
                    if (code == 'A')
                        return {Key::Up};
                    if (code == 'B')
                        return {Key::Down};
                    continue;  // other cursor keys do nothing here
                }
                pending_.erase(0, 1);
                return {Key::Cancel};
            }
            pending_.erase(0, 1);
            if (c == '\r' || c == '\n')
                return {Key::Enter};
            if (c == 'q' || c == 'Q')
                return {Key::Cancel};
            if (c == 'k')
                return {Key::Up};
            if (c == 'j')
                return {Key::Down};
            if (c >= '0' && c <= '9')
                return {Key::Digit, c - '0'};
            if (c == 0x03 || c == 0x04)
                return {Key::Close};
        }
    }

private:
    // Appends what the terminal has, waiting up to timeoutMs (-1: forever).
    // False at the end of input or on an error.
    bool fill(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, timeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r <= 0)
            return false;
        char buffer[64];
        ssize_t n;
        do {
            n = ::read(fd_, buffer, sizeof buffer);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        pending_.append(buffer, size_t(n));
        return true;
    }

    int fd_;
    std::string pending_;
};

const char* kHint = " Up/Down, j/k or a digit: choose   Enter: OK   Esc/q: Cancel";

}  // namespace

INT_PTR runOnTerminal(DialogWindow& dialog, int inFd, int outFd, LPARAM initParam)
{
    HWND self = &dialog;
    RawMode raw(inFd);
    size_t drawn = 0;
    auto draw = [&] {
        std::vector<std::string> lines = renderDialog(self);
        lines.push_back(kHint);
        std::string frame;
        if (drawn > 0)
            frame += "\x1b[" + std::to_string(drawn) + "F";  // back to the first line
        else
            frame += "\x1b[?25l";  // hide the cursor while the dialog is up
        for (const auto& line : lines)
            frame += "\x1b[2K" + line + "\r\n";
        writeAll(outFd, frame);
        drawn = lines.size();
    };

    sendMessage(self, kWmInitDialog, 0, initParam);
    draw();
    KeyReader keys(inFd);
    ControlWindow* combo = firstCombo(dialog);
    auto command = [&](uint16_t id, uint16_t code, HWND control) {
        sendMessage(self, kWmCommand, makeWParam(id, code), reinterpret_cast<LPARAM>(control));
    };
    auto select = [&](int index) {
        if (!combo || index < 0 || index >= int(combo->items.size()) || index == combo->selection)
            return;
        combo->selection = index;
        command(combo->id, kCbnSelChange, combo);
    };
    auto defaultButton = [&]() -> ControlWindow* {
        for (auto& c : dialog.controls)
            if (c->windowClass == "button" && (c->style & 0xF) == kBsDefPushButton)
                return c.get();
        return nullptr;
    };

    while (!dialog.ended) {
        KeyEvent event = keys.next();
        int current = combo ? combo->selection : -1;
        switch (event.key) {
        case Key::Up:
            select(current < 0 ? 0 : current - 1);
            break;
        case Key::Down:
            select(current < 0 ? 0 : current + 1);
            break;
        case Key::Digit:
            select(event.digit);
            break;
        case Key::Enter: {
            ControlWindow* button = defaultButton();
            command(button ? button->id : uint16_t(kIdOk), 0, button);
            break;
        }
        case Key::Cancel:
            command(kIdCancel, 0, getDlgItem(self, kIdCancel));
            break;
        case Key::Close:
            sendMessage(self, kWmClose, 0, 0);
            // A procedure that ignores the close still has to let go: the
            // terminal has nothing more to give.
            if (!dialog.ended)
                endDialog(self, kIdCancel);
            break;
        case Key::None:
            break;
        }
        if (!dialog.ended)
            draw();
    }
    draw();
    writeAll(outFd, "\x1b[?25h");
    return dialog.result;
}

}  // namespace platform
