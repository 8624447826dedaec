// Where the password comes from: -p, --password-file, the environment or a prompt.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/password.h"
#include "engine/container.h"

namespace sfx::cli {

// Takes the -p password (argv[arguments.passwordIndex]) into `given`, before argv is blanked.
// Where the command line is wide (Windows) its characters go straight into code page `page`,
// none lost to the ANSI code page on the way; elsewhere its bytes are taken as given, in the
// locale's encoding. False with the reason in `error` (the password not in it).
bool TakePasswordArgument(char** argv, const Arguments& arguments, unsigned page, Secret& given,
                          std::string& error);

// The password given once for every FILE: -p (taken while parsing), --password-file or the
// environment, in `given`. Returns 0, or the exit status after telling why it can't be had.
int GivenPassword(const Arguments& arguments, Secret& given);

// The password for one FILE in `password`: any text when the container is not protected,
// else the given one, else one typed at a prompt into `asked`. Returns 0, or the exit status
// of the failure after telling why. `page` is the code page the riddle above a prompt is
// shown from and the key is made in; `inCodePage` tells whether the password is in it
// already (Secret::inCodePage) or still in the locale's encoding.
int PasswordFor(const std::string& file, const ContainerHeader& header, unsigned page,
                const Secret& given, Secret& asked, const char*& password, bool& inCodePage);

// The password as the key is made from it on Windows: its text, given in the locale's
// encoding, in code page `page`, into `out`. False (nothing in `out`) when it is not valid in
// the locale's encoding, the code page lacks one of its characters, or it takes more than
// 255 bytes there.
bool PasswordInCodePage(const char* password, unsigned page, Secret& out);

}  // namespace sfx::cli
