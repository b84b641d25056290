#pragma once

namespace shared::platform {

// OpenSSL frees its state in an exit handler of its own. Registered at its first use, on a pool
// thread, that handler runs before the thread pool is shut down, and the pool threads then end
// by freeing their per-thread OpenSSL state a second time: a double free at exit. Called before
// any other use of the library, this leaves the state to the end of the process instead. Cheap
// and idempotent; the hashing code calls it too, for programs that do not.
void keepCryptoLibraryUntilExit();

} // namespace shared::platform
