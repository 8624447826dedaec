// The progress bar on standard error: decryption, then decoding.
#pragma once

#include <cstdint>

#include "engine/job.h"

namespace sfx::cli {

// Installs the bar's callbacks in the job when standard error is a terminal and `quiet` is
// not set; otherwise the job keeps reporting to nobody.
void AttachProgress(ExtractionJob& job, bool quiet, bool decodedAlongside);

// Removes the bar from the terminal, if it was drawn, so that what follows starts on a
// clean line.
void ClearProgress();

}  // namespace sfx::cli
