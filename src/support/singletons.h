#pragma once
// The process-wide objects (the I/O layer, the SMBus engine and table, the
// firmware readers, platform identification) are created on first use. Each
// enlists its release here as it is created, so that whoever ends a board
// session can free them all without knowing the layers above it: newest
// first, which frees every object before the ones it was built on.

namespace lirrin {

using TSingletonRelease = void (*)();

// Records `release` as the newest object's; an object created again after
// being freed moves to the newest place.
void EnlistSingleton(TSingletonRelease release);

// Calls every enlisted release, newest first, and forgets them. Releases must
// accept an object that is already gone (freed by the one above it).
void ReleaseSingletons();

}  // namespace lirrin
