// File operations and temporary files together, for the command line's files that take both.
// New code includes the part it uses (files.h, temporaries.h).
#pragma once

#include "platform/files.h"
#include "platform/temporaries.h"
