#pragma once

namespace shared::platform {

// Gives the calling thread a lower share of the processor than the window's thread. Pool threads
// that decode, hash and write for an installation call it before their work: on a busy machine
// they and the other programs otherwise crowd out the GUI thread, which then answers the player
// late although it has little to do. Idle processors still go to the workers. Once per thread;
// later calls do nothing.
void lowerThisThreadsPriority();

} // namespace shared::platform
