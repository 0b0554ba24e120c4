// The options dialog: one drop-down list of the four compressions and the
// module's version text.
#include "codec/zemo3.h"
#include "module.h"
#include "options_record.h"
#include "platform/platform.h"
#include "resources/resources.h"

namespace zexport {

namespace {

// Shared by the runner and the dialog procedure; one modal dialog at a time.
uint32_t g_currentValue = 0;
// 1 after OK, 0 after Cancel, otherwise the low word of the last command.
// Not reset when a dialog opens.
uint16_t g_outcome = 0;
std::u16string g_versionText;

// The values the dialog offers, in list order.
constexpr uint32_t kOffered[] = {nox::ZEMO3_NORMAL, nox::ZEMO3_NORMAL_ALPHA, nox::ZEMO3_HIGH, nox::ZEMO3_HIGH_ALPHA};

}  // namespace

// The dialog procedure. WM_INITDIALOG fills the list (entry text: the codec's
// name of the value; item data: the value) and selects the current value;
// every command reads the selection's item data back (-1 when nothing is
// selected); OK and Cancel end the dialog.
platform::INT_PTR OptionsDialogProc(platform::HWND dialog, platform::UINT message, platform::WPARAM wParam,
                                    platform::LPARAM lParam)
{
    using namespace platform;
    switch (message) {
    case kWmInitDialog: {
        HWND list = getDlgItem(dialog, resources::kCompressionListId);
        WPARAM index = 0;
        for (uint32_t value : kOffered) {
            std::u16string name = platform::utf8ToUtf16(nox::formatTypeName(value));
            sendMessage(list, kCbAddString, 0, reinterpret_cast<LPARAM>(name.c_str()));
            sendMessage(list, kCbSetItemData, index, LPARAM(value));
            if (value == g_currentValue)
                sendMessage(list, kCbSetCurSel, index, 0);
            ++index;
        }
        sendMessage(getDlgItem(dialog, resources::kVersionLabelId), kWmSetText, 0,
                    reinterpret_cast<LPARAM>(g_versionText.c_str()));
        return 1;
    }
    case kWmCommand: {
        uint16_t command = loWord(wParam);
        g_outcome = command;
        HWND list = getDlgItem(dialog, resources::kCompressionListId);
        LRESULT selection = sendMessage(list, kCbGetCurSel, 0, 0);
        g_currentValue = uint32_t(sendMessage(list, kCbGetItemData, WPARAM(selection), 0));
        if (command == kIdOk) {
            g_outcome = 1;
            endDialog(dialog, 0);
            return 1;
        }
        if (command == kIdCancel) {
            g_outcome = 0;
            endDialog(dialog, 0);
            return 1;
        }
        break;
    }
    default:
        break;
    }
    return defWindowProc(dialog, message, wParam, lParam);
}

// Shows the dialog modally over the host and reports the user's choice:
// value and user_interacted change only when OK was pressed. A dialog that
// cannot be shown (no terminal) counts as no interaction, whatever an earlier
// dialog left in the outcome. Returns 1.
int RunOptionsDialog(SuiteCache& suites, platform::HINSTANCE instance, uint32_t& value, bool& user_interacted,
                     const char* versionText)
{
    platform::HWND parent = platform::getForegroundWindow();
    if (!parent) {
        void* main = nullptr;
        if (suites.utility3().AEGP_GetMainHWND(&main) == A_Err_NONE)
            parent = static_cast<platform::HWND>(main);
    }
    g_currentValue = value;
    g_versionText = platform::utf8ToUtf16(versionText);
    platform::INT_PTR shown =
        platform::dialogBoxParam(instance, resources::kOptionsDialogId, parent, OptionsDialogProc, 0);
    if (shown != -1 && g_outcome == 1) {
        value = g_currentValue;
        user_interacted = true;
    } else {
        user_interacted = false;
    }
    return 1;
}

A_Err userOptionsDialog(AEIO_BasicData* basic, AEIO_OutSpecH out, const PF_EffectWorld* /*sample*/,
                        A_Boolean* user_interacted)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        OptionsRecord options(suites, out);
        // The record stays locked while the dialog is open. An output without
        // a record has its (null) handle locked all the same, and the host's
        // refusal ends the callback.
        A_Err err = options.get();
        if (err != A_Err_NONE || (err = options.lock()) != A_Err_NONE)
            return err;
        uint32_t value = options->formatType;
        bool interacted = false;
        RunOptionsDialog(suites, g_moduleInstance, value, interacted, kVersionText);
        if (interacted)
            options->formatType = value;
        if (user_interacted)
            *user_interacted = interacted ? 1 : 0;
        if ((err = options.unlock()) != A_Err_NONE)
            return err;
        return options.handBack();
    });
}

}  // namespace zexport
