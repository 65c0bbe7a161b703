// TMultiZipInfo: the writer's multi-volume settings, kept as one value so the writer's setter can copy it
// whole.
//
// Block mode (mmBlocks) cuts the archive into files "<name>.001", "<name>.002", ... of at most BlockSize
// bytes (the first at most FirstBlockSize). mmSpan (one volume per removable disk, with volume labels)
// needs drive services this platform does not have; the writer refuses it.
#pragma once

#include "archive/reader/vcl_unzip.h"

namespace archive {

struct TMultiZipInfo {
    int BlockSize = 1457600;
    int FirstBlockSize = 1457600;
    int SaveOnFirstDisk = 0;
    bool SaveZipInfoOnFirstDisk = false;
    TMultiMode MultiMode = mmNone;
    bool CheckDiskLabels = true;
    bool WriteDiskLabels = true;

    void Assign(const TMultiZipInfo& source) { *this = source; }
};

}  // namespace archive
