// Replies that decoded cleanly: read replies and echoes of parameter writes.
#include "Main.h"

// Not built yet: the readings are not stored or shown, so every read request
// ends by its time-out.
void TFMain::HandleReply(const qvr::TDecodedFrame &) {}
