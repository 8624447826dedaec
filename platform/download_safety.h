// What a program run from a downloads folder owes its user, where any other download may
// have left files beside it: DLLs come from the system only, and a file extracted from a
// downloaded one carries the same download mark. Nothing to do on other systems.
#pragma once

namespace sfx::platform {

// Restricts where this process loads DLLs from to the system folder (from Windows 8, and
// Vista and 7 with the update that brought SetDefaultDllDirectories), else takes at least
// the current folder out of the search. Called first thing, before anything loads a DLL.
void RestrictDllSearch();

// Copies the download mark (the Zone.Identifier stream) of the file at `fromPath` to the
// file at `toPath`, which this run has just put there. No mark, or a disk without streams,
// is no failure: nothing is written then.
void CarryDownloadMark(const char* fromPath, const char* toPath);

}  // namespace sfx::platform
