// The options record through the host (create, restore, flatten, dispose,
// describe, refresh, render depth) and the options dialog, shown by the module
// on a pseudo-terminal that the emulated host offers as its main window.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "host_session.h"
#include "platform/dialog.h"
#include "resources/resources.h"

namespace hosttest {
namespace {

using Options = HostTest;
using zexport::ExportOptions;

TEST_F(Options, NewRecordHasDefaults)
{
    AEIO_OutSpecH out = host().addOutput({});
    bool interacted = false;
    ASSERT_EQ(host().initOutputSpec(out, &interacted), A_Err_NONE);
    EXPECT_TRUE(interacted);
    ExportOptions r = record(out), expected{};
    expected.alphaType = 3;
    expected.pendingFrames = r.pendingFrames;
    EXPECT_NE(r.pendingFrames, nullptr);
    EXPECT_EQ(bytesOf(r), bytesOf(expected));
    EXPECT_EQ(host().handleInfo(host().optionsHandle(out))->flags, AEGP_MemFlag_CLEAR);
}

// The stored choice, alpha type and reserved bytes survive; the job state starts over with a new list.
TEST_F(Options, RestoringAStoredOrLiveRecordStartsANewLiveOne)
{
    ExportOptions stored = storedRecord(3, 1);
    stored.framesAdded = 12;
    stored.samplesAdded = 34;
    stored.writer = reinterpret_cast<nox::VideoFormatWriter*>(uintptr_t(0xDEAD0));
    stored.pendingFrames = reinterpret_cast<zexport::PendingFrames*>(uintptr_t(0xBEEF0));
    stored.reserved[0] = 0x11;
    stored.reserved[331] = 0x22;
    std::vector<uint8_t> bytes = bytesOf(stored);
    AEIO_OutSpecH out = host().addOutput({}, &bytes);
    for (int round = 0; round < 2; ++round) {  // from the stored record, then over the live one
        SCOPED_TRACE(round);
        AEGP_MemHandle previous = host().optionsHandle(out);
        const ExportOptions old = record(out);
        bool interacted = false;
        ASSERT_EQ(host().initOutputSpec(out, &interacted), A_Err_NONE);
        EXPECT_TRUE(interacted);
        EXPECT_FALSE(host().handleInfo(previous)) << "the replaced record is freed";
        EXPECT_EQ(host().allHandles().size(), 1u);
        ExportOptions r = record(out), expected = stored;
        expected.flattened = 0;
        expected.writer = nullptr;
        expected.framesAdded = expected.samplesAdded = 0;
        expected.pendingFrames = r.pendingFrames;
        EXPECT_NE(r.pendingFrames, nullptr);
        EXPECT_NE(r.pendingFrames, old.pendingFrames);
        EXPECT_EQ(bytesOf(r), bytesOf(expected));
    }
}

// The flattened copy carries the choice and clears the job state; the live record is untouched.
TEST_F(Options, FlattenedCopyClearsJobState)
{
    AEIO_OutSpecH out = restoredOutput(storedRecord(1, 2));
    uint64_t counters[2] = {7, 48000};
    ASSERT_TRUE(
        host().patchHandle(host().optionsHandle(out), offsetof(ExportOptions, framesAdded), counters, sizeof counters));
    const ExportOptions live = record(out);
    std::vector<uint8_t> flat;
    ASSERT_EQ(host().getFlatOutputOptions(out, &flat), A_Err_NONE);
    ASSERT_EQ(flat.size(), 376u);
    EXPECT_EQ(host().allocations().back().flags, AEGP_MemFlag_CLEAR);
    ExportOptions f, expected = storedRecord(1, 2);
    std::memcpy(&f, flat.data(), sizeof f);
    expected.pendingFrames = f.pendingFrames;
    EXPECT_EQ(bytesOf(f), bytesOf(expected));
    EXPECT_EQ(bytesOf(record(out)), bytesOf(live));
}

TEST_F(Options, WithoutOptionsHandle)
{
    AEIO_OutSpecH out = host().addOutput({});
    std::vector<uint8_t> flat{1, 2, 3};
    EXPECT_EQ(host().getFlatOutputOptions(out, &flat), A_Err_NONE);
    EXPECT_TRUE(flat.empty());
    AEIO_Verbiage v{};
    std::strcpy(v.sub_type, "stale");
    EXPECT_EQ(host().getOutputInfo(out, &v), A_Err_NONE);
    EXPECT_STREQ(v.type, "MOV (Zemo 3)");
    EXPECT_STREQ(v.sub_type, "");
    EXPECT_EQ(host().outputInfoChanged(out), A_Err_NONE);
    AEIO_SupportedDepthFlags depth = 0;
    EXPECT_EQ(host().getDepths(out, &depth), A_Err_GENERIC);
    EXPECT_EQ(host().disposeOutputOptions(out), A_Err_NONE);
    EXPECT_EQ(host().functions().AEIO_DisposeOutputOptions(host().basicData(), nullptr), A_Err_NONE);
    EXPECT_EQ(host().liveHandles(), 0u);
}

TEST_F(Options, DepthAndSubTypeByFormatType)
{
    const struct {
        uint32_t type;
        AEIO_SupportedDepthFlags depth;
        const char* name;
    } cases[] = {
        // clang-format off
        {0, 64, "Normal Quality, No Alpha"}, {1, 128, "Normal Quality, With Alpha"}, {2, 64, "High Quality, No Alpha"},
        {3, 128, "High Quality, With Alpha"}, {4, 64, "Normal Quality, No Alpha"}, {6, 4096, "UV Map"},
        {5, 64, "Normal Quality, With Alpha"}, {7, 4096, "MASK"}, {9, 64, "Normal Quality, No Alpha"},
        {0xFFFFFFFF, 64, "Normal Quality, No Alpha"},
        // clang-format on
    };
    for (const auto& c : cases) {
        AEIO_OutSpecH out = restoredOutput(storedRecord(c.type));
        AEGP_MemHandle handle = host().optionsHandle(out);
        AEIO_SupportedDepthFlags depth = 0;
        EXPECT_EQ(host().getDepths(out, &depth), A_Err_NONE) << c.type;
        EXPECT_EQ(depth, c.depth) << c.type;
        EXPECT_EQ(host().optionsHandle(out), handle) << "the same handle is handed back";
        AEIO_Verbiage v{};
        EXPECT_EQ(host().getOutputInfo(out, &v), A_Err_NONE);
        EXPECT_STREQ(v.name, "filename");
        EXPECT_STREQ(v.type, "MOV (Zemo 3)");
        EXPECT_STREQ(v.sub_type, c.name) << c.type;
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
    }
}

TEST_F(Options, RefreshTakesTheAlphaTypeUnlessMissing)
{
    emulated_host::OutputSettings settings;
    settings.alpha.alpha = 7;
    AEIO_OutSpecH out = host().addOutput(settings);
    ASSERT_EQ(host().initOutputSpec(out), A_Err_NONE);
    EXPECT_EQ(record(out).alphaType, 3) << "a new record starts with 3 whatever the label";
    EXPECT_EQ(host().outputInfoChanged(out), A_Err_NONE);
    EXPECT_EQ(record(out).alphaType, 7);
    host().settings(out).alpha.alpha = 5;
    host().settings(out).missing = true;
    EXPECT_EQ(host().outputInfoChanged(out), A_Err_NONE);
    EXPECT_EQ(record(out).alphaType, 7);
    // A failed query counts as missing; its error is passed on.
    host().settings(out).missing = false;
    host().failMember("AEGP_GetOutSpecIsMissing", 77);
    EXPECT_EQ(host().outputInfoChanged(out), 77);
    EXPECT_EQ(record(out).alphaType, 7);
}

#ifndef _WIN32

const char* const kHint = "Esc/q: Cancel";

// A pseudo-terminal. What is drawn on it is read without blocking: the kernel buffers more than a dialog draws.
class Pty {
public:
    Pty()
    {
        if (master_ < 0 || grantpt(master_) || unlockpt(master_) || fcntl(master_, F_SETFL, O_NONBLOCK) ||
            (slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY)) < 0)
            throw std::runtime_error("no pseudo-terminal");
    }
    ~Pty()
    {
        close(slave_);
        close(master_);
    }
    int slave() const { return slave_; }
    void send(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }
    const std::string& output()
    {
        char buffer[4096];
        for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0;)
            output_.append(buffer, size_t(n));
        return output_;
    }
    // Waits until the output contains text; false after 10 s.
    bool waitFor(const std::string& text)
    {
        for (int i = 0; i < 1000 && output().find(text) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return output().find(text) != std::string::npos;
    }

private:
    int master_ = posix_openpt(O_RDWR | O_NOCTTY), slave_ = -1;
    std::string output_;
};

// The last complete picture the terminal front end drew (every redraw starts
// by moving the cursor up, "ESC [ n F"), escape sequences removed, one string a line.
std::vector<std::string> lastFrame(const std::string& output)
{
    const std::regex up("\x1b\\[[0-9]+F"), escape("\x1b\\[[^A-Za-z]*[A-Za-z]");
    size_t start = 0;
    for (std::sregex_iterator i(output.begin(), output.end(), up), end; i != end; ++i)
        start = size_t(i->position() + i->length());
    const std::string text = std::regex_replace(output.substr(start), escape, "");
    std::vector<std::string> lines;
    for (size_t from = 0, at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(text.substr(from, at - from));
    return lines;
}

class Dialog : public HostTest {
protected:
    // Opens the dialog on a record of the type, types the keys once it is drawn (with `signals`, after
    // interrupting its waits with signals) and checks the outcome; the first picture drawn.
    std::vector<std::string> run(uint32_t type, const std::string& keys, bool interacted, uint32_t stored,
                                 int signals = 0)
    {
        Pty pty;
        platform::HWND window = platform::makeTerminalWindow(pty.slave(), pty.slave());
        host().setMainWindow(window);
        AEIO_OutSpecH out = restoredOutput(storedRecord(type));
        bool got = !interacted;
        std::thread ui([&] { EXPECT_EQ(host().userOptionsDialog(out, &got), A_Err_NONE); });
        const bool drawn = pty.waitFor(kHint);
        const std::vector<std::string> frame = lastFrame(pty.output());
        for (int i = 0; i < signals; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            pthread_kill(ui.native_handle(), SIGWINCH);
        pty.send(drawn ? keys : "\x04");
        ui.join();
        EXPECT_TRUE(drawn) << pty.output();
        EXPECT_EQ(got, interacted);
        EXPECT_EQ(record(out).formatType, stored);
        host().setMainWindow(nullptr);
        platform::destroyTerminalWindow(window);
        return frame;
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

// The first case's picture: caption, label over the list, the four entries in order, the version right-aligned on
// the buttons' row.
void expectTheDialog(const std::vector<std::string>& frame)
{
    ASSERT_GE(frame.size(), 10u);
    EXPECT_NE(frame[0].find("Zemo 3 Format Options"), std::string::npos) << frame[0];
    auto lineWith = [&](const std::string& text) {
        for (size_t i = 0; i < frame.size(); ++i)
            if (frame[i].find(text) != std::string::npos)
                return int(i);
        return -1;
    };
    const int entry = lineWith("0  Normal Quality, No Alpha"), version = lineWith("2.1.8 rev 8700");
    EXPECT_LT(0, lineWith("Compression"));
    EXPECT_LT(lineWith("Compression"), lineWith("[High Quality, No Alpha"));
    EXPECT_LT(lineWith("[High Quality, No Alpha"), entry);
    // the entries a column in from the box's bracket, after the two-column mark of the chosen one
    const std::string& box = frame[size_t(lineWith("[High Quality, No Alpha"))];
    EXPECT_EQ(frame[size_t(entry)].find("0  Normal"), box.find('[') + 3) << box;
    EXPECT_EQ(lineWith("1  Normal Quality, With Alpha"), entry + 1);
    EXPECT_EQ(lineWith("2  High Quality, No Alpha"), entry + 2);
    EXPECT_EQ(lineWith("3  High Quality, With Alpha"), entry + 3);
    ASSERT_GT(version, entry + 3);
    const std::string& bottom = frame[size_t(version)];
    EXPECT_LT(bottom.find("OK"), bottom.find("Cancel"));
    EXPECT_LT(bottom.find("Cancel"), bottom.find("2.1.8 rev 8700"));
    EXPECT_EQ(bottom.back(), '|');
    EXPECT_LE(bottom.size() - 1 - (bottom.find("2.1.8 rev 8700") + 14), 4u) << bottom;
}

TEST_F(Dialog, KeysDriveTheChoice)
{
    const struct {
        uint32_t initial;
        const char* keys;
        std::string selectedOnOpen;  // "" when nothing is selected
        bool interacted;
        uint32_t stored;
    } cases[] = {
        {2, "\r", "2  High Quality, No Alpha", true, 2},                            // OK without a change
        {0, "jjjq", "0  Normal Quality, No Alpha", false, 0},                       // choose, then Cancel
        {1, "jj\x1b", "1  Normal Quality, With Alpha", false, 1},                   // lone Esc is Cancel
        {3, "\x04", "3  High Quality, With Alpha", false, 3},                       // closing is Cancel
        {0, "\x1b[B\r", "0  Normal Quality, No Alpha", true, 1},                    // arrow down, OK
        {3, "\x1b[A\x1b[A\x1b[A\x1b[A\r", "3  High Quality, With Alpha", true, 0},  // stops at the top
        {1, "3\r", "1  Normal Quality, With Alpha", true, 3},                       // a digit selects
        {1, "9\r", "1  Normal Quality, With Alpha", true, 1},                       // no such entry
        {0, "kjjjjjj\r", "0  Normal Quality, No Alpha", true, 3},                   // stops at the bottom
        {6, "\r", "", true, 0xFFFFFFFF},                                            // nothing selected: CB_ERR
        {6, "j\r", "", true, 0},                                                    // moving selects the first
        {6, "k\r", "", true, 0},                                                    // either way
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.initial) + ", keys " + ::testing::PrintToString(std::string(c.keys)));
        const std::vector<std::string> frame = run(c.initial, c.keys, c.interacted, c.stored);
        EXPECT_EQ(selectedEntry(frame), c.selectedOnOpen);
        if (&c == cases)
            expectTheDialog(frame);
    }
}

// A signal the host catches (here a resized terminal's) ends the dialog's waits early; it waits again,
// loses no key and finishes. A dialog that hangs instead ends the test program.
TEST_F(Dialog, SignalsLoseNoKey)
{
    struct sigaction caught {}, saved {};
    caught.sa_handler = [](int) {};  // without SA_RESTART: a wait ends with EINTR
    sigaction(SIGWINCH, &caught, &saved);
    alarm(20);
    run(0, "\x1b[B\r", true, 1, 3);
    alarm(0);
    sigaction(SIGWINCH, &saved, nullptr);
}

TEST_F(Dialog, WithoutTerminalNothingIsShown)
{
    // An OK in an earlier dialog leaves its outcome behind; a dialog that
    // cannot be shown must still report no interaction.
    run(1, "\r", true, 1);
    Pty pty;  // a terminal to draw on is not enough when the keys come from a pipe
    for (bool terminalOut : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        platform::HWND window = platform::makeTerminalWindow(fds[0], terminalOut ? pty.slave() : fds[1]);
        host().setMainWindow(window);
        AEIO_OutSpecH out = restoredOutput(storedRecord(3));
        bool interacted = true;
        EXPECT_EQ(host().userOptionsDialog(out, &interacted), A_Err_NONE);
        EXPECT_FALSE(interacted);
        EXPECT_EQ(record(out).formatType, 3u);
        host().setMainWindow(nullptr);
        platform::destroyTerminalWindow(window);
        EXPECT_EQ(host().removeOutput(out), A_Err_NONE);
        close(fds[1]);
        char c;
        EXPECT_EQ(read(fds[0], &c, 1), 0) << "nothing was drawn";
        close(fds[0]);
        EXPECT_EQ(pty.output(), "");
    }
}

#else

// The module's own Win32 dialog (resource 100 of the module), used from a second thread as a user would: found by
// its caption, its controls laid out as the template says, the four entries and the version text read back, an
// entry picked and OK pressed. ZEMO_DIALOG_PICTURE names a file for a picture of it (scripts/test-win64.sh).
TEST_F(Options, Win32DialogTakesTheChoice)
{
    AEIO_OutSpecH out = restoredOutput(storedRecord(1));
    std::vector<std::wstring> entries, texts;
    std::wstring version;
    LRESULT selectedOnOpen = -2;
    std::vector<RECT> places, expected;
    // The user waits for the dialog as long as it may take to come up (on a
    // loaded machine that has taken over 10 s), until the call returns
    // without one (no display).
    std::atomic<bool> returned{false};
    std::thread user([&] {
        HWND dialog = nullptr;
        for (; !returned && !(dialog && IsWindowVisible(dialog)); Sleep(10))
            dialog = FindWindowW(L"#32770", L"Zemo 3 Format Options");
        if (!dialog || !IsWindowVisible(dialog))
            return;
        Sleep(300);  // painted
        HWND list = GetDlgItem(dialog, 3);
        selectedOnOpen = SendMessageW(list, CB_GETCURSEL, 0, 0);
        wchar_t text[64];
        for (LRESULT i = 0, n = SendMessageW(list, CB_GETCOUNT, 0, 0); i < n; ++i) {
            SendMessageW(list, CB_GETLBTEXT, WPARAM(i), LPARAM(text));
            entries.push_back(text);
        }
        GetDlgItemTextW(dialog, 1004, text, 64);
        version = text;
        const platform::DialogTemplate& t = zexport::resources::optionsDialogTemplate();
        for (size_t i = 0; i < t.itemCount; ++i) {
            const auto& item = t.items[i];
            RECT units{item.x, item.y, item.x + item.cx, item.y + item.cy}, place;
            MapDialogRect(dialog, &units);
            GetWindowRect(GetDlgItem(dialog, item.id), &place);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 1);
            places.push_back({place.left, place.top, 0, 0});
            expected.push_back({units.left, units.top, 0, 0});
            GetClassNameW(GetDlgItem(dialog, item.id), text, 64);
            texts.push_back(text);
        }
        if (const char* picture = std::getenv("ZEMO_DIALOG_PICTURE")) {
            // The picture is taken from outside, from the window system's screen: the dialog's place goes to
            // PICTURE.place ("WxH+X+Y") and the dialog stays up until PICTURE is there.
            RECT r;
            GetWindowRect(dialog, &r);
            const std::string place = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                                      std::to_string(r.left) + "+" + std::to_string(r.top);
            testutil::writeFile(std::string(picture) + ".place", testutil::Bytes(place.begin(), place.end()));
            for (int i = 0; i < 3000 && !std::filesystem::exists(picture); ++i)
                Sleep(10);
        }
        SendMessageW(list, CB_SETCURSEL, 3, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(3, CBN_SELCHANGE), LPARAM(list));
        PostMessageW(dialog, WM_COMMAND, IDOK, LPARAM(GetDlgItem(dialog, IDOK)));
    });
    bool interacted = false;
    EXPECT_EQ(host().userOptionsDialog(out, &interacted), A_Err_NONE);
    returned = true;
    user.join();
    if (entries.empty())
        GTEST_SKIP() << "no display to show the dialog on";
    EXPECT_EQ(selectedOnOpen, 1);
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"Normal Quality, No Alpha", L"Normal Quality, With Alpha",
                                                  L"High Quality, No Alpha", L"High Quality, With Alpha"}));
    EXPECT_EQ(version, L"2.1.8 rev 8700");
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Button", L"Button", L"ComboBox", L"Static", L"Static"}));
    for (size_t i = 0; i < places.size(); ++i) {
        EXPECT_EQ(places[i].left, expected[i].left) << i;
        EXPECT_EQ(places[i].top, expected[i].top) << i;
    }
    EXPECT_TRUE(interacted);
    EXPECT_EQ(record(out).formatType, 3u);
}
#endif

}  // namespace
}  // namespace hosttest
