// Pieces of the export job that are pure computations, kept apart so that
// tests can check them directly.
#pragma once

#include <cstdint>
#include <utility>

#include "export_options.h"
#include "host_api/host_api.h"

namespace zexport {

// Converts the host's ARGB pixels (8 or 16 bits per channel, `deep`) into
// RGBA rows rowBytes apart; 16-bit values 0..32768 are scaled to 0..65535.
void convertPixels(const PF_EffectWorld& world, bool deep, uint8_t* destination, uint64_t rowBytes);

// Whether an output of this size can be exported in the format type: some
// pixels, host frames under 2 GiB and compressed frames the codec can carry.
// A size refused is logged as an ERROR line.
bool exportableSize(A_long width, A_long height, uint32_t formatType);

// True when available memory is under 300 MB or under five frames of this size.
bool memoryIsLow(uint64_t frameBytes);

// The frame path of AEIO_AddFrame once the record is locked.
A_Err addFrameLocked(ExportOptions& record, const PF_EffectWorld* world);

// Ends the job a record holds, if any: every frame handed to the writer
// (queued ones run here), the writer flushed and destroyed (trailer written,
// file closed), writer set to null. Used by the end of a job, by a start over
// a job never ended, and when a live record is disposed of mid-job.
void finishJob(ExportOptions& record);

// The sound path of AEIO_AddSoundChunk once the record is locked.
A_Err addSoundLocked(ExportOptions& record, A_u_long samples, const void* data);

}  // namespace zexport
