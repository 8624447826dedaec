// unsfx's own words for a failure, built from its real cause: once a step has failed, the
// file system is asked again about the paths involved, and the errno the step left is read.
#pragma once

#include <string>

namespace sfx::cli {

// One message on standard error: "unsfx: ", the message and a line end.
void Tell(const std::string& message);

// A name as a message shows it: escaped as info escapes file texts, between quotes.
std::string Quoted(const std::string& name);

// Why `file` can't be read as a self-extracting file before anything is opened ("-", a
// folder, a pipe, a device, nothing there), or "" when it is a regular file.
std::string SourceProblem(const std::string& file);

// Why reading `file` failed, `error` being the errno the failed read left (0 when none).
std::string ReadProblem(const std::string& file, int error);

// Why `destination` could not be written. `error` is the errno of the write that failed, on
// whichever thread met it (0 when none is known), `needed` the bytes the file takes at least.
std::string WriteProblem(const std::string& destination, int error, long long needed);

// Why a scratch file (test, or a compressed payload to standard output) could not be
// written, or standard output when `toOutput`; `error` as for WriteProblem.
std::string ScratchProblem(bool toOutput, int error);

}  // namespace sfx::cli
