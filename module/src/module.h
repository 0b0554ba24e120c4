// The module's process-wide state and its callbacks, as the function block
// lists them.
#pragma once

#include <memory>
#include <vector>

#include "core/threads.h"
#include "export_options.h"
#include "host_api/host_api.h"
#include "platform/dialog.h"

namespace zexport {

// The plug-in ID the host gave when the module registered by name; the owner
// of every memory handle the module allocates.
extern AEGP_PluginID g_pluginId;
// The loaded module, kept by the load hook; its dialog templates are
// registered under it.
extern platform::HINSTANCE g_moduleInstance;

// Frame tasks of a running export job, oldest first. A live record owns its
// pending list (allocated with new); flattened records own nothing, their
// pointer fields are copies without meaning.
struct PendingFrames {
    std::vector<std::unique_ptr<nox::TaskHandle>> tasks;
};

// Options record (options.cpp).
A_Err initOutputSpec(AEIO_BasicData* basic, AEIO_OutSpecH out, A_Boolean* user_interacted);
A_Err getFlatOutputOptions(AEIO_BasicData* basic, AEIO_OutSpecH out, AEIO_Handle* flat);
A_Err disposeOutputOptions(AEIO_BasicData* basic, void* options);
A_Err getOutputInfo(AEIO_BasicData* basic, AEIO_OutSpecH out, AEIO_Verbiage* verbiage);
A_Err outputInfoChanged(AEIO_BasicData* basic, AEIO_OutSpecH out);
A_Err getDepths(AEIO_BasicData* basic, AEIO_OutSpecH out, AEIO_SupportedDepthFlags* which);

// Options dialog (options_dialog.cpp).
A_Err userOptionsDialog(AEIO_BasicData* basic, AEIO_OutSpecH out, const PF_EffectWorld* sample,
                        A_Boolean* user_interacted);

// Export job (export_job.cpp).
A_Err startAdding(AEIO_BasicData* basic, AEIO_OutSpecH out, A_long flags);
A_Err addFrame(AEIO_BasicData* basic, AEIO_OutSpecH out, A_long frame_index, A_long frames, const PF_EffectWorld* world,
               const A_LPoint* origin, A_Boolean was_compressed, AEIO_InterruptFuncs* inter);
A_Err endAdding(AEIO_BasicData* basic, AEIO_OutSpecH out, A_long flags);
A_Err addSoundChunk(AEIO_BasicData* basic, AEIO_OutSpecH out, const A_Time* start, A_u_long samples, const void* data);

}  // namespace zexport
