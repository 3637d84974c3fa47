// The settings file: section [Options] of config.ini, thirteen keys, read once
// at start and written once at close. Values in, values out; no widgets.
#pragma once

#include <QByteArray>
#include <QString>

namespace qvr {

// The thirteen settings in file order. A list index of -1 means the list has
// no selection.
struct TSettings {
    bool AutoSave = false;    // AutoSaveData: switch the measurement log on at start
    bool Update = false;      // AutoUpdateData: switch polling on at start
    bool AutoConnect = false; // auto_connect
    bool SaveDate = true;     // save_data: log the date
    bool SaveTime = true;     // save_time
    bool SaveRaw = true;      // save_raw
    bool SavePercent = true;  // save_percent
    bool SaveCoeff = true;    // save_coeff
    QString SaveFile;         // the log file path
    int SensorCount = 0;      // index in SensorCnt: active sensors - 1
    int SaveFreq = 0;         // index in SaveFreq
    int ChartType = 0;        // index in ChartType: 0 line chart, 1 gauges
    QString Coeff;            // the text of the Coeff edit
};

// Values a missing file is created with.
TSettings NewFileSettings();

// The settings the bytes of a config.ini hold. A key that is missing or
// unparsable takes its own fallback value, which is not always the new-file
// value (Update, AutoConnect, SaveFile).
TSettings SettingsFromText(const QByteArray &data);

// The bytes of `existing` with the thirteen keys rewritten in file order;
// everything else (other keys and sections, comments, blank lines) is kept
// as it was.
QByteArray SettingsTextWith(const QByteArray &existing, const TSettings &settings);

// Reads the file (SettingsFromText), creating it with NewFileSettings() first
// when it does not exist. Throws std::runtime_error naming the file when it
// cannot be created or read.
TSettings LoadSettings(const QString &path);

// Rewrites the file with SettingsTextWith, in one write. Throws
// std::runtime_error naming the file when it cannot be read or written.
void SaveSettings(const QString &path, const TSettings &settings);

// The per-user folder for the settings: $XDG_CONFIG_HOME/qvr1pc, by default
// ~/.config/qvr1pc.
QString UserSettingsDir();

// config.ini beside the executable when it exists there or that folder is
// writable; otherwise config.ini in `userDir`, which is created when needed.
QString SettingsPath(const QString &exeDir, const QString &userDir = UserSettingsDir());

} // namespace qvr
