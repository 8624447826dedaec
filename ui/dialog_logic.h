// What the extraction dialog decides without a window: the destination path, the folder a
// browse leaves and the texts of its message boxes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/path_text.h"
#include "ui/startup.h"

namespace sfx::ui {

// Size of the dialog's work text (the platform's longest path).
inline constexpr std::size_t WorkTextSize = 260 * platform::BytesPerPathCharacter;
// Size of the message text: the success message with the longest file name fits whole.
inline constexpr std::size_t MessageTextSize = 64 + TextSize;

inline constexpr char SuccessPrefix[] = "Your file has been successfully extracted to ";
inline constexpr char EmptyPasswordMessage[] = "You have not entered a password. Please do so!";

// destination := folder, a "\" when the folder is not empty and ends with no separator, and
// the file name. False, with `out` empty, when that does not fit `capacity` bytes.
bool JoinDestination(const char* folder, const char* fileName, char* out, std::size_t capacity);

// Appends "\" to a folder (TextSize bytes) that does not end with a separator, when there is
// room (TextCharacters characters); an empty folder becomes "\".
void EnsureFinalSeparator(char* folder);

// Takes a folder chosen in the browser into `folder` (TextSize bytes) when it fits together
// with a final "\" (TextCharacters characters); otherwise `folder` stays as it was and the
// result is false.
bool TakeBrowsedFolder(const char* chosen, char* folder);

// The success message for a file name, into `out` (MessageTextSize bytes).
void SuccessMessage(const char* fileName, char* out);

// The failure message for a job status (empty for a status without message).
const char* FailureMessage(std::int32_t status);

}  // namespace sfx::ui
