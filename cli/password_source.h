// Where the password comes from: -p, --password-file, the environment or a prompt.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/password.h"
#include "engine/container.h"

namespace sfx::cli {

// The password given once for every FILE: -p (taken while parsing), --password-file or the
// environment, in `given`. Returns 0, or the exit status after telling why it can't be had.
int GivenPassword(const Arguments& arguments, Secret& given);

// The password for one FILE in `password`: any text when the container is not protected,
// else the given one, else one typed at a prompt into `asked`. Returns 0, or the exit status
// of the failure after telling why.
int PasswordFor(const std::string& file, const ContainerHeader& header, const Secret& given,
                Secret& asked, const char*& password);

}  // namespace sfx::cli
