// The options dialog, shown by the module on a pseudo-terminal that the
// emulated host offers as its main window, and driven by keys.
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "host_session.h"
#include "platform/dialog.h"
#include "resources/resources.h"

namespace hosttest {
namespace {

const char* const kHint = "Esc/q: Cancel";

struct DialogRun {
    A_Err err = -1;
    bool interacted = false;
    std::vector<std::string> firstFrame;
    std::vector<std::string> lastFrame;
    uint32_t formatType = 0;
};

class Dialog : public HostTest {
protected:
    // Opens the dialog on a record of the given type, waits until it is
    // drawn, types the keys and waits for the callback to return.
    DialogRun run(uint32_t formatType, const std::string& keys)
    {
        DialogRun r;
        Pty pty;
        platform::HWND window = platform::makeTerminalWindow(pty.slave(), pty.slave());
        host().setMainWindow(window);
        AEIO_OutSpecH out = restoredOutput(storedRecord(formatType));
        std::thread ui([&] { r.err = host().userOptionsDialog(out, &r.interacted); });
        bool drawn = pty.waitFor(kHint);
        r.firstFrame = hosttest::lastFrame(pty.output());
        pty.send(drawn ? keys : std::string("\x04"));
        ui.join();
        EXPECT_TRUE(drawn) << pty.output();
        r.lastFrame = hosttest::lastFrame(pty.output());
        r.formatType = record(out).formatType;
        host().setMainWindow(nullptr);
        pty.finish();
        platform::destroyTerminalWindow(window);
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        return r;
    }
};

std::string selectedEntry(const std::vector<std::string>& frame)
{
    for (const auto& line : frame)
        if (size_t at = line.find("> "); at != std::string::npos) {
            std::string entry = line.substr(at + 2);
            return entry.substr(0, entry.find_last_not_of(" |") + 1);
        }
    return "";
}

TEST_F(Dialog, KeysDriveTheChoice)
{
    struct Case {
        uint32_t initial;
        const char* keys;
        std::string selectedOnOpen;  // "" when nothing is selected
        bool interacted;
        uint32_t stored;
    };
    const Case cases[] = {
        {2, "\r", "2  High Quality, No Alpha", true, 2},             // OK without a change
        {0, "jjjq", "0  Normal Quality, No Alpha", false, 0},        // choose, then Cancel
        {1, "jj\x1b", "1  Normal Quality, With Alpha", false, 1},    // lone Esc is Cancel
        {3, "\x04", "3  High Quality, With Alpha", false, 3},        // closing is Cancel
        {0, "\x1b[B\r", "0  Normal Quality, No Alpha", true, 1},     // arrow down, OK
        {3, "\x1b[A\x1b[A\x1b[A\x1b[A\r", "3  High Quality, With Alpha", true, 0},  // stops at the top
        {1, "3\r", "1  Normal Quality, With Alpha", true, 3},        // a digit selects
        {1, "9\r", "1  Normal Quality, With Alpha", true, 1},        // no such entry
        {0, "kjjjjjj\r", "0  Normal Quality, No Alpha", true, 3},    // stops at the bottom
        {6, "\r", "", true, 0xFFFFFFFF},                              // nothing selected: CB_ERR
        {6, "j\r", "", true, 0},                                      // moving selects the first
    };
    for (const Case& c : cases) {
        std::string keys = c.keys;
        SCOPED_TRACE("type " + std::to_string(c.initial) + ", keys " + ::testing::PrintToString(keys));
        DialogRun r = run(c.initial, c.keys);
        EXPECT_EQ(r.err, A_Err_NONE);
        EXPECT_EQ(selectedEntry(r.firstFrame), c.selectedOnOpen);
        EXPECT_EQ(r.interacted, c.interacted);
        EXPECT_EQ(r.formatType, c.stored);
    }
}

TEST_F(Dialog, FrameShowsTheDialog)
{
    DialogRun r = run(2, "\r");
    const auto& frame = r.firstFrame;
    ASSERT_GE(frame.size(), 10u);
    EXPECT_NE(frame[0].find("Zemo 3 Format Options"), std::string::npos) << frame[0];
    auto lineWith = [&](const std::string& text) {
        for (size_t i = 0; i < frame.size(); ++i)
            if (frame[i].find(text) != std::string::npos)
                return int(i);
        return -1;
    };
    int label = lineWith("Compression");
    int combo = lineWith("[High Quality, No Alpha");
    int entries[] = {lineWith("0  Normal Quality, No Alpha"), lineWith("1  Normal Quality, With Alpha"),
                     lineWith("2  High Quality, No Alpha"), lineWith("3  High Quality, With Alpha")};
    int version = lineWith("2.1.8 rev 8700");
    EXPECT_EQ(lineWith("0.0.0"), -1) << "the label's placeholder is replaced";
    EXPECT_LT(0, label);
    EXPECT_LT(label, combo);
    EXPECT_LT(combo, entries[0]);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(entries[i], entries[i - 1] + 1);
    // The version sits at the bottom right, on the buttons' row.
    ASSERT_GT(version, entries[3]);
    const std::string& bottom = frame[size_t(version)];
    EXPECT_NE(bottom.find("OK"), std::string::npos);
    EXPECT_NE(bottom.find("Cancel"), std::string::npos);
    EXPECT_GT(bottom.find("2.1.8 rev 8700"), bottom.find("Cancel"));
    size_t end = bottom.find("2.1.8 rev 8700") + std::string("2.1.8 rev 8700").size();
    EXPECT_EQ(bottom.back(), '|');
    EXPECT_LE(bottom.size() - 1 - end, 4u) << bottom;
    for (size_t i = size_t(version) + 1; i < frame.size() && frame[i].front() == '|'; ++i)
        EXPECT_EQ(frame[i].find_first_not_of(" |"), std::string::npos) << "nothing below the version: " << frame[i];
}

TEST_F(Dialog, WithoutTerminalNothingIsShown)
{
    // An OK in an earlier dialog leaves its outcome behind; a dialog that
    // cannot be shown must still report no interaction.
    ASSERT_TRUE(run(1, "\r").interacted);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    platform::HWND window = platform::makeTerminalWindow(fds[0], fds[1]);
    host().setMainWindow(window);
    AEIO_OutSpecH out = restoredOutput(storedRecord(3));
    bool interacted = true;
    EXPECT_EQ(host().userOptionsDialog(out, &interacted), A_Err_NONE);
    EXPECT_FALSE(interacted);
    EXPECT_EQ(record(out).formatType, 3u);
    host().setMainWindow(nullptr);
    platform::destroyTerminalWindow(window);
    close(fds[1]);
    char c;
    EXPECT_EQ(read(fds[0], &c, 1), 0) << "nothing was drawn";
    close(fds[0]);
}

// The window layer on its own, with a procedure that exercises the list
// messages the options dialog relies on.
platform::INT_PTR probeProcedure(platform::HWND dialog, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam)
{
    using namespace platform;
    static int closes = 0;
    if (message == WM_INITDIALOG) {
        HWND list = getDlgItem(dialog, 3);
        EXPECT_NE(list, nullptr);
        EXPECT_EQ(getDlgItem(dialog, 77), nullptr);
        EXPECT_EQ(sendMessage(list, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(sendMessage(list, CB_GETITEMDATA, WPARAM(-1), 0), CB_ERR);
        EXPECT_EQ(sendMessage(list, CB_ADDSTRING, 0, LPARAM(u"first")), 0);
        EXPECT_EQ(sendMessage(list, CB_ADDSTRING, 0, LPARAM(u"second")), 1);
        EXPECT_EQ(sendMessage(list, CB_SETITEMDATA, 1, 0x1234), 1);
        EXPECT_EQ(sendMessage(list, CB_SETITEMDATA, 2, 1), CB_ERR);
        EXPECT_EQ(sendMessage(list, CB_SETCURSEL, 1, 0), 1);
        EXPECT_EQ(sendMessage(list, CB_GETITEMDATA, WPARAM(sendMessage(list, CB_GETCURSEL, 0, 0)), 0), 0x1234);
        EXPECT_EQ(sendMessage(list, CB_SETCURSEL, 5, 0), CB_ERR);
        EXPECT_EQ(sendMessage(list, CB_GETCURSEL, 0, 0), -1) << "an index out of range clears the selection";
        char16_t text[8];
        HWND label = getDlgItem(dialog, 1004);
        EXPECT_EQ(sendMessage(label, WM_SETTEXT, 0, LPARAM(u"v1.2")), 1);
        EXPECT_EQ(sendMessage(label, WM_GETTEXT, 8, LPARAM(text)), 4);
        EXPECT_EQ(std::u16string(text), u"v1.2");
        return 1;
    }
    if (message == WM_COMMAND) {
        // Closing arrives as Cancel through the default procedure.
        EXPECT_EQ(loWord(wParam), IDCANCEL);
        EXPECT_EQ(closes, 1);
        endDialog(dialog, 42);
        return 1;
    }
    if (message == WM_CLOSE)
        ++closes;
    return defWindowProc(dialog, message, wParam, lParam);
}

TEST(DialogWindows, ListMessagesAndClosing)
{
    static const int anchor = 0;
    platform::HINSTANCE instance = platform::moduleOf(&anchor);
    ASSERT_NE(instance, nullptr);
    platform::registerDialogTemplate(instance, 100, &zexport::resources::optionsDialogTemplate());
    Pty pty;
    platform::HWND window = platform::makeTerminalWindow(pty.slave(), pty.slave());
    EXPECT_EQ(platform::dialogBoxParam(instance, 101, window, probeProcedure, 0), -1) << "no such template";
    platform::INT_PTR result = -1;
    std::thread ui([&] { result = platform::dialogBoxParam(instance, 100, window, probeProcedure, 0); });
    bool drawn = pty.waitFor(kHint);
    pty.send("\x03");  // Ctrl-C closes
    ui.join();
    EXPECT_TRUE(drawn);
    EXPECT_EQ(result, 42);
    pty.finish();
    platform::destroyTerminalWindow(window);
}

}  // namespace
}  // namespace hosttest
