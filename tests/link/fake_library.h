// A scripted adapter library for the transport and window tests. It behaves
// like a backend: adapters are known by description, handles it did not hand
// out (kNoHandle, closed or foreign ones) make every call fail, written frames
// are kept and received bytes are queued by the test. Each call is logged with
// its arguments, and its status can be forced once (Next) or for good (Fail).
#pragma once

#include "link/d2xx.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qvr::test {

class FakeLibrary : public ID2xx {
public:
    struct Call {
        std::string name;
        // Name, handle mark ("h" open, "none", "stale") and arguments.
        std::string text;
        bool handleOpen; // false: the call named no open adapter
        FtStatus status;
    };

    // What a failing open leaves in the handle.
    static constexpr FtHandle kJunkHandle = 0xBAD;
    // What the detail query hands back, as if another process had it open.
    static constexpr FtHandle kForeignHandle = 0x77;

    std::vector<std::string> Adapters;
    // What the count call reports when it differs from the adapters that
    // answer (one unplugged in between, say); unset: the number of Adapters.
    std::optional<std::uint32_t> DeviceCount;
    // An open that reports success but hands back no handle.
    bool OpenGivesNoHandle = false;

    // Statuses for the next uses of the named call ("OpenEx", "Read", ...),
    // one per use, ahead of everything else; then the status in Fail; then
    // what a backend would answer.
    std::map<std::string, std::deque<FtStatus>> Next;
    std::map<std::string, FtStatus> Fail;

    std::vector<Call> Calls;
    std::set<FtHandle> OpenHandles;
    std::string OpenedDescription;
    std::vector<std::vector<std::uint8_t>> Written;
    std::deque<std::uint8_t> Incoming;
    // Called with the call's name during each call, so that a test can see
    // what the window shows at that moment.
    std::function<void(const std::string &)> OnCall;

    void FailOnce(const std::string &call, FtStatus status = FT_IO_ERROR)
    {
        Next[call].push_back(status);
    }
    void Receive(std::initializer_list<std::uint8_t> bytes)
    {
        Incoming.insert(Incoming.end(), bytes);
    }

    bool Called(const std::string &call) const
    {
        return std::any_of(Calls.begin(), Calls.end(),
                           [&](const Call &c) { return c.name == call; });
    }
    std::vector<std::string> Names() const { return Project(&Call::name); }
    std::vector<std::string> Texts() const { return Project(&Call::text); }
    int Closed() const
    {
        return static_cast<int>(std::count_if(Calls.begin(), Calls.end(), [](const Call &c) {
            return c.name == "Close" && c.status == FT_OK;
        }));
    }
    // Calls that named no open adapter and still reported success.
    int SucceededWithoutAdapter() const
    {
        return static_cast<int>(std::count_if(Calls.begin(), Calls.end(), [](const Call &c) {
            return !c.handleOpen && c.status == FT_OK;
        }));
    }

    // Hands back every adapter whatever the limit: keeping to it is the caller's job.
    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t) override
    {
        descriptions = Adapters;
        *count = static_cast<std::uint32_t>(Adapters.size());
        return Record("ListDevices", "", Outcome("ListDevices", FT_OK));
    }
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override
    {
        *count = DeviceCount.value_or(static_cast<std::uint32_t>(Adapters.size()));
        return Record("CreateDeviceInfoList", "", Outcome("CreateDeviceInfoList", FT_OK));
    }
    FtStatus GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                 FtHandle *handle) override
    {
        const bool there = index < Adapters.size();
        details.Description = there ? Adapters[index] : std::string();
        *handle = kForeignHandle;
        return Record("GetDeviceInfoDetail", " " + std::to_string(index),
                      Outcome("GetDeviceInfoDetail", there ? FT_OK : FT_DEVICE_NOT_FOUND));
    }
    FtStatus OpenEx(const std::string &description, std::uint32_t flags, FtHandle *handle) override
    {
        const bool there =
            std::find(Adapters.begin(), Adapters.end(), description) != Adapters.end();
        const FtStatus status = Outcome("OpenEx", there ? FT_OK : FT_DEVICE_NOT_FOUND);
        if (status != FT_OK) {
            *handle = kJunkHandle;
        } else if (OpenGivesNoHandle) {
            *handle = kNoHandle;
        } else {
            *handle = ++lastHandle_;
            OpenHandles.insert(*handle);
            OpenedDescription = description;
        }
        return Record("OpenEx", " " + description + " " + std::to_string(flags), status);
    }
    FtStatus SetBaudRate(FtHandle h, std::uint32_t baud) override
    {
        return OnHandle("SetBaudRate", h, std::to_string(baud));
    }
    FtStatus SetDataCharacteristics(FtHandle h, std::uint8_t bits, std::uint8_t stop,
                                    std::uint8_t parity) override
    {
        return OnHandle("SetDataCharacteristics", h,
                        std::to_string(bits) + " " + std::to_string(stop) + " " +
                            std::to_string(parity));
    }
    FtStatus SetFlowControl(FtHandle h, std::uint16_t flow, std::uint8_t xon,
                            std::uint8_t xoff) override
    {
        return OnHandle("SetFlowControl", h,
                        std::to_string(flow) + " " + std::to_string(xon) + " " +
                            std::to_string(xoff));
    }
    FtStatus Purge(FtHandle h, std::uint32_t mask) override
    {
        return OnHandle("Purge", h, std::to_string(mask));
    }
    FtStatus GetStatus(FtHandle h, std::uint32_t *rx, std::uint32_t *tx,
                       std::uint32_t *events) override
    {
        // Filled even when the call fails: the caller must not trust the
        // counts of a failed call.
        *rx = static_cast<std::uint32_t>(Incoming.size());
        *tx = 0;
        *events = 0;
        return OnHandle("GetStatus", h, "");
    }
    FtStatus Read(FtHandle h, void *buffer, std::uint32_t n, std::uint32_t *read) override
    {
        *read = 0;
        const FtStatus status = OnHandle("Read", h, std::to_string(n));
        auto *out = static_cast<std::uint8_t *>(buffer);
        while (status == FT_OK && *read < n && !Incoming.empty()) {
            out[(*read)++] = Incoming.front();
            Incoming.pop_front();
        }
        return status;
    }
    FtStatus Write(FtHandle h, const void *buffer, std::uint32_t n, std::uint32_t *written) override
    {
        *written = 0;
        const FtStatus status = OnHandle("Write", h, std::to_string(n));
        if (status == FT_OK) {
            const auto *in = static_cast<const std::uint8_t *>(buffer);
            Written.emplace_back(in, in + n);
            *written = n;
        }
        return status;
    }
    FtStatus Close(FtHandle h) override
    {
        const FtStatus status = OnHandle("Close", h, "");
        if (status == FT_OK)
            OpenHandles.erase(h);
        return status;
    }

private:
    FtStatus Outcome(const std::string &call, FtStatus otherwise)
    {
        auto next = Next.find(call);
        if (next != Next.end() && !next->second.empty()) {
            const FtStatus status = next->second.front();
            next->second.pop_front();
            return status;
        }
        auto fail = Fail.find(call);
        return fail == Fail.end() ? otherwise : fail->second;
    }
    FtStatus Record(const std::string &call, const std::string &args, FtStatus status,
                    bool handleOpen = true)
    {
        if (OnCall)
            OnCall(call);
        Calls.push_back({call, call + args, handleOpen, status});
        return status;
    }
    FtStatus OnHandle(const std::string &call, FtHandle h, const std::string &args)
    {
        const bool isOpen = OpenHandles.count(h) > 0;
        const std::string mark = isOpen ? " h" : h == kNoHandle ? " none" : " stale";
        return Record(call, mark + (args.empty() ? "" : " " + args),
                      Outcome(call, isOpen ? FT_OK : FT_INVALID_HANDLE), isOpen);
    }

    std::vector<std::string> Project(std::string Call::*field) const
    {
        std::vector<std::string> out;
        for (const Call &c : Calls)
            out.push_back(c.*field);
        return out;
    }

    FtHandle lastHandle_ = 0x100;
};

} // namespace qvr::test
