// The measurement log: one line per save tick, built in memory from the
// reading table and appended to the file in one write. No widgets.
#pragma once

#include "link/modbus.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>

namespace qvr {

// Which fields a line carries: the check boxes save_data, save_time,
// save_raw, save_percent and save_coeff.
struct TLogFields {
    bool Date = true;
    bool Time = true;
    bool Raw = true;
    bool Percent = true;
    bool Scaled = true;
};

// One line: the date (regional short date, "-" replaced by ":"), the time
// (regional long time), then raw, percent and scaled value for each of
// sensorCountIndex + 1 sensors (none for -1), every field followed by ";",
// and CR LF. "---" stands for kNoReading; a scaled field is "---" whenever
// coeffText is not a number. Numbers carry the regional decimal separator
// and never a group separator.
QByteArray BuildLogLine(const TLogFields &fields, const QDateTime &now, int sensorCountIndex,
                        const std::array<std::uint32_t, kSensorCount> &readings,
                        const QString &coeffText);

// Appends `line` with one open (creating the file, never truncating it), one
// write and one close. False when any of the three fails, so that a full disk
// is reported like a missing folder. Only a regular file is written, and the
// open never blocks: a FIFO, a folder or a device at `path` is a failure.
bool AppendToLog(const QString &path, const QByteArray &line);

// Whether the settings file can hold `path` as the value of one line: no
// control character (a line break above all) in it, and not empty.
bool IsStorableLogPath(const QString &path);

// Creates an empty file when none exists at `path`; an existing file is left
// untouched. False when it cannot be created or is not a regular file; never
// blocks.
bool CreateIfMissing(const QString &path);

} // namespace qvr
