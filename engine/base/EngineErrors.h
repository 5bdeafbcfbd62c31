#pragma once

#include <string>

// The captions every engine failure carries, and the helpers that throw CMException with them.
namespace quillory {

inline constexpr const char* kDataErrorCaption = "Quillory data error";
inline constexpr const char* kStoreErrorCaption = "Quillory store error";
inline constexpr const char* kModelErrorCaption = "Quillory model error";
inline constexpr const char* kUsageErrorCaption = "Quillory engine error";

// A data file or the manifest is missing or malformed.
[[noreturn]] void ThrowDataError(const std::string& text);
// The store cannot be opened, read or written.
[[noreturn]] void ThrowStoreError(const std::string& text);
// The prediction model failed.
[[noreturn]] void ThrowModelError(const std::string& text);
// A call with an argument the engine does not hold (a catalogue number out of range, an unknown movie id ...).
[[noreturn]] void ThrowUsageError(const std::string& text);

// What every call for the current user answers while nobody is logged in (the login was cancelled): the user can
// act on it, where an unknown user id would tell him nothing.
inline constexpr const char* kNobodyLoggedInText = "Nobody is logged in. Log in first.";
[[noreturn]] void ThrowNobodyLoggedIn();

} // namespace quillory
