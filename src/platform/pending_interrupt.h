// Whether an interrupting signal waits while InterruptHold holds it back,
// so a long step can stop at a safe point, undo what it did, and then let
// the signal end the process as it would have.
#pragma once

namespace fw {

// SIGINT, SIGTERM, SIGHUP or SIGXFSZ is pending and not ignored.
bool interruptPending();

}  // namespace fw
