#include "link/serial_ports.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace qvr {

namespace {

// Bound on one Write: an 8-byte frame takes 1.4 ms at 57600 baud.
constexpr int kWriteTimeoutMs = 200;

// Status codes, not exceptions, leave the library.
template <class F> FtStatus Guarded(F &&f) noexcept
{
    try {
        return f();
    } catch (...) {
        return FT_OTHER_ERROR;
    }
}

// At most `max` bytes of UTF-8 text, never cutting a character.
std::string Cut(const std::string &text, std::size_t max)
{
    if (text.size() <= max)
        return text;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

#ifdef Q_OS_UNIX
int PollFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 ? -1 : p.revents;
}

// USB serial drivers turn this flag into the shortest latency timer, so a
// reply reaches the receive tick right after it. Ports without a serial
// driver (pseudo-terminals) refuse; that is fine.
void AskLowLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &ss);
#else
    (void)fd;
#endif
}
#endif

} // namespace

std::vector<TListedPort> OrderPorts(const std::vector<TPortRecord> &found,
                                    const std::vector<std::string> &configured)
{
    struct Candidate {
        std::string Text;
        std::string PortName;
        TListedPort Port;
    };
    std::vector<Candidate> all;

    std::vector<const TPortRecord *> usb;
    for (const TPortRecord &r : found)
        if (r.HasVendorId)
            usb.push_back(&r);
    std::stable_partition(usb.begin(), usb.end(),
                          [](const TPortRecord *r) { return r->VendorId == kFtdiVendorId; });
    for (const TPortRecord *r : usb) {
        Candidate c;
        c.Text = r->Description.empty() ? r->PortName : r->Description;
        c.PortName = r->PortName;
        c.Port.Location = r->Location.empty() ? r->PortName : r->Location;
        c.Port.SerialNumber = r->SerialNumber;
        c.Port.Id = std::uint32_t{r->VendorId} << 16 | r->ProductId;
        all.push_back(std::move(c));
    }

    std::vector<std::string> seen;
    for (const std::string &path : configured) {
        if (path.empty() || std::find(seen.begin(), seen.end(), path) != seen.end())
            continue;
        seen.push_back(path);
        Candidate c;
        c.Text = path;
        c.PortName = path;
        c.Port.Location = path;
        all.push_back(std::move(c));
    }

    std::map<std::string, int> uses;
    for (const Candidate &c : all)
        ++uses[Cut(c.Text, kDescriptionSize)];

    // First choice: the cut text, or with " (port name)" where cut texts meet.
    std::set<std::string> planned;
    for (Candidate &c : all) {
        if (uses[Cut(c.Text, kDescriptionSize)] > 1) {
            const std::string suffix = " (" + c.PortName + ")";
            c.Port.Description = suffix.size() < kDescriptionSize
                                     ? Cut(c.Text, kDescriptionSize - suffix.size()) + suffix
                                     : Cut(c.PortName, kDescriptionSize);
        } else {
            c.Port.Description = Cut(c.Text, kDescriptionSize);
        }
        planned.insert(c.Port.Description);
    }

    // The first choice can still meet another: long paths equal up to the cut,
    // a name suffix that did not fit, a text that looks like a suffixed one.
    // The first entry holding a text keeps it; a later one gets " (n)" with the
    // smallest n >= 2 that no entry chose and none took, so first choices that
    // were unique stay as they are.
    std::set<std::string> taken;
    std::vector<TListedPort> list;
    list.reserve(all.size());
    for (Candidate &c : all) {
        const std::string first = c.Port.Description;
        for (int n = 2; taken.count(c.Port.Description) != 0; ++n) {
            const std::string suffix = " (" + std::to_string(n) + ")";
            std::string numbered = Cut(first, kDescriptionSize - suffix.size()) + suffix;
            if (planned.count(numbered) == 0 && taken.count(numbered) == 0)
                c.Port.Description = std::move(numbered);
        }
        taken.insert(c.Port.Description);
        list.push_back(std::move(c.Port));
    }
    return list;
}

TSerialPortLibrary::TSerialPortLibrary(PortList configured, Enumerator enumerate)
    : configured_(std::move(configured)), enumerate_(std::move(enumerate))
{
    if (!enumerate_)
        enumerate_ = &TSerialPortLibrary::SystemPorts;
}

TSerialPortLibrary::~TSerialPortLibrary() = default;

std::vector<TPortRecord> TSerialPortLibrary::SystemPorts()
{
    std::vector<TPortRecord> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        TPortRecord r;
        r.Description = info.description().toStdString();
        r.PortName = info.portName().toStdString();
        r.Location = info.systemLocation().toStdString();
        r.SerialNumber = info.serialNumber().toStdString();
        r.HasVendorId = info.hasVendorIdentifier();
        r.VendorId = info.vendorIdentifier();
        r.ProductId = info.productIdentifier();
        ports.push_back(std::move(r));
    }
    return ports;
}

void TSerialPortLibrary::Refresh()
{
    list_ = OrderPorts(enumerate_(), configured_ ? configured_() : std::vector<std::string>{});
}

QSerialPort *TSerialPortLibrary::Find(FtHandle handle)
{
    TOpenPort *open = FindOpen(handle);
    return open != nullptr ? open->Port.get() : nullptr;
}

TSerialPortLibrary::TOpenPort *TSerialPortLibrary::FindOpen(FtHandle handle)
{
    const auto it = open_.find(handle);
    return it == open_.end() ? nullptr : &it->second;
}

bool TSerialPortLibrary::Fetch(TOpenPort &open)
{
    QSerialPort &port = *open.Port;
    std::vector<char> &rx = open.Rx;
    rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(open.RxHead));
    open.RxHead = 0;
    // Bytes the port object already took in (when an event loop ran) are
    // older than those still in the system's queue.
    const qint64 buffered = port.bytesAvailable();
    if (buffered > 0 && rx.size() < kRxFetchSize) {
        const std::size_t want =
            std::min(static_cast<std::size_t>(buffered), kRxFetchSize - rx.size());
        const std::size_t held = rx.size();
        rx.resize(held + want);
        const qint64 n = port.read(rx.data() + held, static_cast<qint64>(want));
        rx.resize(held + static_cast<std::size_t>(std::max<qint64>(n, 0)));
    }
#ifdef Q_OS_UNIX
    const int fd = port.handle();
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0)
        return false;
    const std::size_t want =
        std::min(static_cast<std::size_t>(std::max(waiting, 0)), kRxFetchSize - rx.size());
    if (want == 0)
        return true;
    const std::size_t held = rx.size();
    rx.resize(held + want);
    ssize_t n;
    do {
        n = ::read(fd, rx.data() + held, want);
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    rx.resize(held + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    // Bytes were reported waiting: end of file or an error other than "none
    // yet" means the port has gone.
    return n > 0 || (n < 0 && (error == EAGAIN || error == EWOULDBLOCK));
#else
    return true;
#endif
}

bool TSerialPortLibrary::Alive(QSerialPort &port)
{
    if (!port.isOpen() || port.error() == QSerialPort::ResourceError)
        return false;
#ifdef Q_OS_UNIX
    const int fd = port.handle();
    if (fd < 0)
        return false;
    const int revents = PollFor(fd, POLLIN, 0);
    return revents >= 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
#else
    return true;
#endif
}

FtStatus TSerialPortLibrary::ListDevices(std::vector<std::string> &descriptions,
                                         std::uint32_t *count, std::uint32_t maxCount)
{
    return Guarded([&] {
        if (count == nullptr)
            return FT_INVALID_PARAMETER;
        Refresh();
        const std::size_t n = std::min<std::size_t>(list_.size(), maxCount);
        descriptions.clear();
        for (std::size_t i = 0; i < n; ++i)
            descriptions.push_back(list_[i].Description);
        *count = static_cast<std::uint32_t>(list_.size());
        return FT_OK;
    });
}

FtStatus TSerialPortLibrary::CreateDeviceInfoList(std::uint32_t *count)
{
    return Guarded([&] {
        if (count == nullptr)
            return FT_INVALID_PARAMETER;
        Refresh();
        *count = static_cast<std::uint32_t>(list_.size());
        return FT_OK;
    });
}

FtStatus TSerialPortLibrary::GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                                 FtHandle *handle)
{
    return Guarded([&] {
        if (index >= list_.size())
            return FT_DEVICE_NOT_FOUND;
        const TListedPort &port = list_[index];
        FtHandle holder = kNoHandle;
        for (const auto &[h, open] : open_)
            if (open.Location == port.Location)
                holder = h;
        details.Flags = holder != kNoHandle ? 1 : 0; // bit 0: opened
        details.Type = 0;
        details.ID = port.Id;
        details.LocId = 0;
        details.SerialNumber = port.SerialNumber;
        details.Description = port.Description;
        if (handle != nullptr)
            *handle = holder;
        return FT_OK;
    });
}

FtStatus TSerialPortLibrary::OpenEx(const std::string &description, std::uint32_t flags,
                                    FtHandle *handle)
{
    return Guarded([&] {
        if (handle == nullptr)
            return FT_INVALID_PARAMETER;
        *handle = kNoHandle;
        if (flags != FT_OPEN_BY_DESCRIPTION)
            return FT_INVALID_PARAMETER;
        if (description.empty())
            return FT_DEVICE_NOT_FOUND;
        Refresh();
        const auto entry = std::find_if(list_.begin(), list_.end(), [&](const TListedPort &p) {
            return p.Description == description;
        });
        if (entry == list_.end())
            return FT_DEVICE_NOT_FOUND;
        for (const auto &[h, open] : open_)
            if (open.Location == entry->Location)
                return FT_DEVICE_NOT_OPENED;

        auto port = std::make_unique<QSerialPort>();
        port->setPortName(QString::fromStdString(entry->Location));
        if (!port->open(QIODevice::ReadWrite))
            return FT_DEVICE_NOT_OPENED;
#ifdef Q_OS_UNIX
        AskLowLatency(port->handle());
        // The receive tick fetches the bytes itself (GetStatus, Read). The
        // port's own read notification would only wake the event loop for
        // every reply, copy the bytes once more and keep the terminal in
        // every wait of the loop.
        for (QSocketNotifier *notifier : port->findChildren<QSocketNotifier *>())
            if (notifier->type() == QSocketNotifier::Read)
                notifier->setEnabled(false);
#endif
        const FtHandle id = nextHandle_++;
        open_[id] = TOpenPort{std::move(port), entry->Location, {}, 0};
        *handle = id;
        return FT_OK;
    });
}

FtStatus TSerialPortLibrary::SetBaudRate(FtHandle handle, std::uint32_t baud)
{
    return Guarded([&] {
        QSerialPort *port = Find(handle);
        if (port == nullptr)
            return FT_INVALID_HANDLE;
        if (baud == 0 || baud > 0x7FFFFFFFu)
            return FT_INVALID_PARAMETER;
        return port->setBaudRate(static_cast<qint32>(baud)) ? FT_OK : FT_IO_ERROR;
    });
}

FtStatus TSerialPortLibrary::SetDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                                    std::uint8_t stopBits, std::uint8_t parity)
{
    return Guarded([&] {
        QSerialPort *port = Find(handle);
        if (port == nullptr)
            return FT_INVALID_HANDLE;
        if (wordLength < 5 || wordLength > 8 || (stopBits != 0 && stopBits != 2) || parity > 4)
            return FT_INVALID_PARAMETER;
        static constexpr QSerialPort::Parity kParity[] = {
            QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
            QSerialPort::MarkParity, QSerialPort::SpaceParity};
        const bool ok =
            port->setDataBits(static_cast<QSerialPort::DataBits>(wordLength)) &&
            port->setStopBits(stopBits == 0 ? QSerialPort::OneStop : QSerialPort::TwoStop) &&
            port->setParity(kParity[parity]);
        return ok ? FT_OK : FT_IO_ERROR;
    });
}

FtStatus TSerialPortLibrary::SetFlowControl(FtHandle handle, std::uint16_t flow, std::uint8_t,
                                            std::uint8_t)
{
    return Guarded([&] {
        QSerialPort *port = Find(handle);
        if (port == nullptr)
            return FT_INVALID_HANDLE;
        // None, RTS/CTS and XON/XOFF (the system's XON/XOFF characters); the
        // serial layer has no DTR/DSR handshake.
        QSerialPort::FlowControl mode;
        switch (flow) {
        case 0x0000:
            mode = QSerialPort::NoFlowControl;
            break;
        case 0x0100:
            mode = QSerialPort::HardwareControl;
            break;
        case 0x0400:
            mode = QSerialPort::SoftwareControl;
            break;
        default:
            return FT_INVALID_PARAMETER;
        }
        return port->setFlowControl(mode) ? FT_OK : FT_IO_ERROR;
    });
}

FtStatus TSerialPortLibrary::Purge(FtHandle handle, std::uint32_t mask)
{
    return Guarded([&] {
        TOpenPort *open = FindOpen(handle);
        if (open == nullptr)
            return FT_INVALID_HANDLE;
        QSerialPort *port = open->Port.get();
        QSerialPort::Directions dirs;
        if (mask & FT_PURGE_RX) {
            dirs |= QSerialPort::Input;
            open->Rx.clear();
            open->RxHead = 0;
        }
        if (mask & FT_PURGE_TX)
            dirs |= QSerialPort::Output;
        if (dirs == QSerialPort::Directions{})
            return FT_OK;
        return port->clear(dirs) ? FT_OK : FT_IO_ERROR;
    });
}

FtStatus TSerialPortLibrary::GetStatus(FtHandle handle, std::uint32_t *rxQueue,
                                       std::uint32_t *txQueue, std::uint32_t *eventStatus)
{
    return Guarded([&] {
        TOpenPort *open = FindOpen(handle);
        if (open == nullptr)
            return FT_INVALID_HANDLE;
        QSerialPort *port = open->Port.get();
        if (rxQueue == nullptr || txQueue == nullptr || eventStatus == nullptr)
            return FT_INVALID_PARAMETER;
#ifdef Q_OS_UNIX
        // A vanished port fails even while bytes taken in before are held.
        if (!Alive(*port) || !Fetch(*open))
            return FT_IO_ERROR;
        int pending = 0;
        if (::ioctl(port->handle(), TIOCOUTQ, &pending) != 0)
            pending = 0;
        *rxQueue = static_cast<std::uint32_t>(open->Rx.size() - open->RxHead);
        *txQueue = static_cast<std::uint32_t>(pending);
#else
        port->waitForReadyRead(0); // takes in what the system holds, never waits
        if (port->error() == QSerialPort::TimeoutError)
            port->clearError();
        if (!Alive(*port) || !Fetch(*open))
            return FT_IO_ERROR;
        // Past kRxFetchSize the port object keeps the rest.
        *rxQueue = static_cast<std::uint32_t>(open->Rx.size() - open->RxHead +
                                              static_cast<std::size_t>(port->bytesAvailable()));
        *txQueue = static_cast<std::uint32_t>(port->bytesToWrite());
#endif
        *eventStatus = 0;
        return FT_OK;
    });
}

FtStatus TSerialPortLibrary::Read(FtHandle handle, void *buffer, std::uint32_t toRead,
                                  std::uint32_t *bytesRead)
{
    return Guarded([&] {
        TOpenPort *open = FindOpen(handle);
        if (open == nullptr)
            return FT_INVALID_HANDLE;
        QSerialPort *port = open->Port.get();
        if (bytesRead == nullptr || (buffer == nullptr && toRead > 0))
            return FT_INVALID_PARAMETER;
        char *out = static_cast<char *>(buffer);
        std::uint32_t done = 0;
        // First what GetStatus took in: no system call for those.
        const std::size_t held = open->Rx.size() - open->RxHead;
        if (toRead > 0 && held > 0) {
            const std::size_t n = std::min<std::size_t>(held, toRead);
            std::memcpy(out, open->Rx.data() + open->RxHead, n);
            open->RxHead += n;
            if (open->RxHead == open->Rx.size()) {
                open->Rx.clear();
                open->RxHead = 0;
            }
            done = static_cast<std::uint32_t>(n);
        }
        if (done < toRead && port->bytesAvailable() > 0) {
            const qint64 n = port->read(out + done, toRead - done);
            if (n > 0)
                done += static_cast<std::uint32_t>(n);
        }
        FtStatus status = FT_OK;
#ifdef Q_OS_UNIX
        while (done < toRead) {
            const ssize_t n = ::read(port->handle(), out + done, toRead - done);
            if (n > 0) {
                done += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            // Nothing more waiting (EAGAIN), or the port is gone (end of
            // file, EIO): the latter fails only when nothing was delivered.
            if ((n == 0 || errno != EAGAIN) && done == 0)
                status = FT_IO_ERROR;
            break;
        }
#endif
        *bytesRead = done;
        return status;
    });
}

FtStatus TSerialPortLibrary::Write(FtHandle handle, const void *buffer, std::uint32_t toWrite,
                                   std::uint32_t *bytesWritten)
{
    return Guarded([&] {
        QSerialPort *port = Find(handle);
        if (port == nullptr)
            return FT_INVALID_HANDLE;
        if (bytesWritten == nullptr || (buffer == nullptr && toWrite > 0))
            return FT_INVALID_PARAMETER;
        *bytesWritten = 0;
        if (!Alive(*port))
            return FT_IO_ERROR;
        const char *data = static_cast<const char *>(buffer);
#ifdef Q_OS_UNIX
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
        std::uint32_t done = 0;
        while (done < toWrite) {
            const ssize_t n = ::write(port->handle(), data + done, toWrite - done);
            if (n > 0) {
                done += static_cast<std::uint32_t>(n);
                *bytesWritten = done;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return FT_IO_ERROR;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return FT_IO_ERROR;
            const int revents = PollFor(port->handle(), POLLOUT, static_cast<int>(left));
            if (revents < 0 || (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
                return FT_IO_ERROR;
        }
        return FT_OK;
#else
        const qint64 n = port->write(data, toWrite);
        if (n != static_cast<qint64>(toWrite))
            return FT_IO_ERROR;
        if (!port->waitForBytesWritten(kWriteTimeoutMs) && port->bytesToWrite() > 0)
            return FT_IO_ERROR;
        *bytesWritten = toWrite;
        return FT_OK;
#endif
    });
}

FtStatus TSerialPortLibrary::Close(FtHandle handle)
{
    return Guarded([&] {
        const auto it = open_.find(handle);
        if (it == open_.end())
            return FT_INVALID_HANDLE;
        it->second.Port->close();
        open_.erase(it);
        return FT_OK;
    });
}

} // namespace qvr
