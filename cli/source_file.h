// The FILEs unsfx is given: checked before anything is read, opened as far as the container
// header.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "engine/container.h"

namespace sfx::cli {

// 0 when FILE is a regular file whose container header can be read, else the exit status
// after telling why.
int OpenSource(const std::string& file, ContainerHeader& header, ContainerPlacement& placement);

// A first word that is neither a file nor a command was most likely meant as a command:
// true after telling so, and nothing else is to be done then, so that a mistyped "test"
// never writes a file.
bool MistypedCommand(const Arguments& arguments);

}  // namespace sfx::cli
