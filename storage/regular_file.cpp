#include "storage/regular_file.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qvr {

#ifdef Q_OS_UNIX
int OpenRegularFile(const QString &path, int flags, unsigned mode)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st = {};
    const bool known = ::fstat(fd, &st) == 0;
    if (known && S_ISREG(st.st_mode))
        return fd;
    const int error = known ? EINVAL : errno;
    ::close(fd);
    errno = error;
    return -1;
}
#endif

} // namespace qvr
