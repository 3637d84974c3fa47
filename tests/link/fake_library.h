// A scripted adapter library for window tests: adapters by description,
// statuses per call, every written frame recorded, received bytes queued by
// the test.
#pragma once

#include "link/d2xx.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qvr::test {

class FakeLibrary : public ID2xx {
public:
    std::vector<std::string> Adapters;
    // Status to return from the named call ("OpenEx", "GetStatus", "Write", ...);
    // a call that is not named succeeds.
    std::map<std::string, FtStatus> Fail;
    std::vector<std::vector<std::uint8_t>> Written;
    std::deque<std::uint8_t> Incoming;
    std::vector<std::string> Calls;
    std::string OpenedDescription;
    FtHandle Open = kNoHandle;
    int ClosedCount = 0;
    // Called with the call's name as each call begins, so that a test can see
    // what the window shows at that moment.
    std::function<void(const std::string &)> OnCall;

    bool Called(const std::string &call) const
    {
        return std::find(Calls.begin(), Calls.end(), call) != Calls.end();
    }

    void Receive(std::initializer_list<std::uint8_t> bytes)
    {
        Incoming.insert(Incoming.end(), bytes);
    }

    FtStatus ListDevices(std::vector<std::string> &descriptions, std::uint32_t *count,
                         std::uint32_t maxCount) override
    {
        Record("ListDevices");
        descriptions.assign(Adapters.begin(),
                            Adapters.begin() + std::min<std::size_t>(maxCount, Adapters.size()));
        *count = static_cast<std::uint32_t>(Adapters.size());
        return Result("ListDevices");
    }
    FtStatus CreateDeviceInfoList(std::uint32_t *count) override
    {
        Record("CreateDeviceInfoList");
        *count = static_cast<std::uint32_t>(Adapters.size());
        return Result("CreateDeviceInfoList");
    }
    FtStatus GetDeviceInfoDetail(std::uint32_t index, DeviceDetails &details,
                                 FtHandle *handle) override
    {
        Record("GetDeviceInfoDetail");
        if (index >= Adapters.size())
            return FT_DEVICE_NOT_FOUND;
        details.Description = Adapters[index];
        *handle = kNoHandle;
        return Result("GetDeviceInfoDetail");
    }
    FtStatus OpenEx(const std::string &description, std::uint32_t, FtHandle *handle) override
    {
        Record("OpenEx");
        *handle = kNoHandle;
        if (Result("OpenEx") != FT_OK)
            return Result("OpenEx");
        for (const std::string &a : Adapters)
            if (a == description) {
                OpenedDescription = description;
                Open = *handle = 7;
                return FT_OK;
            }
        return FT_DEVICE_NOT_FOUND;
    }
    FtStatus SetBaudRate(FtHandle h, std::uint32_t) override { return Config("SetBaudRate", h); }
    FtStatus SetDataCharacteristics(FtHandle h, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        return Config("SetDataCharacteristics", h);
    }
    FtStatus SetFlowControl(FtHandle h, std::uint16_t, std::uint8_t, std::uint8_t) override
    {
        return Config("SetFlowControl", h);
    }
    FtStatus Purge(FtHandle h, std::uint32_t) override { return Config("Purge", h); }
    FtStatus GetStatus(FtHandle h, std::uint32_t *rx, std::uint32_t *tx,
                       std::uint32_t *events) override
    {
        Record("GetStatus");
        if (!Valid(h))
            return FT_INVALID_HANDLE;
        // A failing call still reports the bytes waiting: the caller must not
        // trust the counts of a call that failed.
        *rx = static_cast<std::uint32_t>(Incoming.size());
        *tx = 0;
        *events = 0;
        return Result("GetStatus");
    }
    FtStatus Read(FtHandle h, void *buffer, std::uint32_t n, std::uint32_t *read) override
    {
        Record("Read");
        *read = 0;
        if (!Valid(h))
            return FT_INVALID_HANDLE;
        if (Result("Read") != FT_OK)
            return Result("Read");
        auto *out = static_cast<std::uint8_t *>(buffer);
        while (*read < n && !Incoming.empty()) {
            out[(*read)++] = Incoming.front();
            Incoming.pop_front();
        }
        return FT_OK;
    }
    FtStatus Write(FtHandle h, const void *buffer, std::uint32_t n, std::uint32_t *written) override
    {
        Record("Write");
        *written = 0;
        if (!Valid(h))
            return FT_INVALID_HANDLE;
        if (Result("Write") != FT_OK)
            return Result("Write");
        const auto *in = static_cast<const std::uint8_t *>(buffer);
        Written.emplace_back(in, in + n);
        *written = n;
        return FT_OK;
    }
    FtStatus Close(FtHandle h) override
    {
        Record("Close");
        if (!Valid(h))
            return FT_INVALID_HANDLE;
        Open = kNoHandle;
        ++ClosedCount;
        return FT_OK;
    }

private:
    void Record(const std::string &call)
    {
        Calls.push_back(call);
        if (OnCall)
            OnCall(call);
    }
    bool Valid(FtHandle h) const { return h != kNoHandle && h == Open; }
    FtStatus Result(const std::string &call) const
    {
        auto it = Fail.find(call);
        return it == Fail.end() ? FT_OK : it->second;
    }
    FtStatus Config(const char *call, FtHandle h)
    {
        Record(call);
        if (!Valid(h))
            return FT_INVALID_HANDLE;
        return Result(call);
    }
};

} // namespace qvr::test
