#pragma once

namespace orvik::launcher {

// A named moment of a self-update: "moved-aside" (an old file kept as ".old", its replacement
// not yet written), "replaced" (a new file renamed into place) and "before-restart"; or of a
// repair asked for by a request file: "repair-requested" (the request file just removed). The
// launcher passes by without doing anything. Test launchers link a definition of their own that
// stops the process there, so that a test can kill it at exactly that moment.
void passSelfUpdateCheckpoint(const char* Name);

} // namespace orvik::launcher
