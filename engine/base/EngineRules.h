#pragma once

// Numbers that several layers must agree on, written once: the data, the store, the model and the windows each see
// them through base.
namespace quillory {

// A user with fewer ratings than this is a newcomer: no predictions are offered to him, and his top picks are the
// newcomers' list (movies widely seen and well liked) rather than his own.
inline constexpr int kMinRatingsToPredict = 15;

// The data's user ids lie below this; the store hands out account ids from here up, a range no data user may reach,
// so that a new snapshot of the data files can never hand an account's id to a stranger.
inline constexpr long kFirstAccountId = 2'000'000'000;

} // namespace quillory
