// Opening a file that must be a regular one, without ever waiting on it.
#pragma once

#include <QString>

namespace qvr {

// A descriptor of the regular file at `path`, opened with open(2)'s `flags`
// plus O_NONBLOCK, O_CLOEXEC and O_NOCTTY, so that a FIFO without a peer or a
// device in its place is never waited on. The type is checked on the opened
// descriptor: nothing swapped in after a look at the name gets through.
// -1 with errno set when it cannot be opened, EINVAL when it is not a
// regular file. Unix only.
int OpenRegularFile(const QString &path, int flags, unsigned mode = 0666);

} // namespace qvr
