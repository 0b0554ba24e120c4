// The export job: StartAdding, AddFrame, AddSoundChunk and EndAdding.
//
// The job is built on the movie writer. Until it is wired up the module
// accepts no job: a start finds no writer to open (1), frames and sound are
// refused as having no writer (1), and the end has nothing to close (0).
// The options record already carries the job's fields (writer,
// pendingFrames, framesAdded, samplesAdded) for it.
#include "module.h"
#include "suites.h"

namespace zexport {

A_Err startAdding(AEIO_BasicData*, AEIO_OutSpecH, A_long)
{
    return A_Err_GENERIC;
}

A_Err addFrame(AEIO_BasicData*, AEIO_OutSpecH, A_long, A_long, const PF_EffectWorld*, const A_LPoint*, A_Boolean,
               AEIO_InterruptFuncs*)
{
    return A_Err_GENERIC;
}

A_Err endAdding(AEIO_BasicData*, AEIO_OutSpecH, A_long)
{
    return A_Err_NONE;
}

A_Err addSoundChunk(AEIO_BasicData*, AEIO_OutSpecH, const A_Time*, A_u_long, const void*)
{
    return A_Err_GENERIC;
}

}  // namespace zexport
