// The settings file: section [Options] of config.ini, thirteen keys, read once
// at start and written once at close; section [Adapters], read whenever the
// adapters are listed. Values in, values out; no widgets.
#pragma once

#include "storage/log_line.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

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

// How a key is held in TSettings and spelt in the file.
enum class TSettingKind {
    Flag,  // bool; an integer in the file, not 0 is ticked; a check box
    Text,  // QString as it stands; a line edit
    Index, // int, a list's selected index (-1 outside the list); a combo box
    Real,  // QString, a regional real in its general format; a line edit
};

// One key of [Options]. The values of the Fallback and NewFile columns are
// spelt as in the file and read as the file's values are.
struct TSettingKey {
    const char *Key;
    TSettingKind Kind;
    bool TSettings::*Flag;    // Flag
    QString TSettings::*Text; // Text and Real
    int TSettings::*Index;    // Index
    int Items;                // Index: the items of the list
    const char *Fallback;     // for a missing or unparsable key
    const char *NewFile;      // in a new file; null: the log in the home folder
    const char *Control;      // object name of the form control showing it
    bool TLogFields::*Field;  // the log field it switches; null for none
};

// The thirteen keys in file order: what is read, written and shown.
constexpr std::size_t kSettingKeys = 13;
const std::array<TSettingKey, kSettingKeys> &SettingsSchema();

// The log's fields as the settings tick them.
TLogFields LogFieldsOf(const TSettings &settings);

// The settings file could not be read or written. what() is a plain English
// fallback; the operator's wording is made from Type(), Path() and Reason().
class TSettingsError : public std::runtime_error {
public:
    enum class Kind { Read, Write };
    TSettingsError(Kind kind, const QString &path, const QString &reason);

    Kind Type() const { return kind_; }
    const QString &Path() const { return path_; } // as given, not native
    const QString &Reason() const { return reason_; }

private:
    Kind kind_;
    QString path_;
    QString reason_;
};

// Values a missing file is created with. The log goes to pomiar.csv in the
// home folder (c:\pomiar.csv on Windows).
TSettings NewFileSettings();

// The settings the bytes of a config.ini hold. A file that is valid UTF-8 as
// a whole is read as UTF-8, any other as Windows-1250 (the files of the
// earlier Windows installations). A key that is missing or unparsable takes
// its own fallback value, which is not always the new-file value (Update,
// AutoConnect, SaveFile: the relative pomiar.csv).
TSettings SettingsFromText(const QByteArray &data);

// The bytes of `existing` with the thirteen keys rewritten in file order;
// everything else (other keys and sections, comments, blank lines) is kept
// as it was. The values are written in the file's encoding. A Windows-1250
// file whose new values Windows-1250 cannot hold (or whose result would read
// as UTF-8) is transcoded to UTF-8 as a whole, every line keeping its text.
QByteArray SettingsTextWith(const QByteArray &existing, const TSettings &settings);

// Section [Reconnect]: whether the link is opened again by itself after it
// was lost, and how often it is tried. Read at start; the program never
// writes it (SaveSettings keeps other sections as they are).
struct TReconnectSettings {
    static constexpr int kDefaultIntervalMs = 2000;
    static constexpr int kMinIntervalMs = 500;
    bool Enabled = false;
    int IntervalMs = kDefaultIntervalMs;
    bool operator==(const TReconnectSettings &o) const
    {
        return Enabled == o.Enabled && IntervalMs == o.IntervalMs;
    }
};

// Enabled is on for "1" alone; IntervalMs is a decimal integer, raised to
// kMinIntervalMs, the default when missing or not a number an int holds; the
// defaults when there is no section.
TReconnectSettings ReconnectSettingsFromText(const QByteArray &data);

// Reads the file (SettingsFromText), creating it with NewFileSettings() first
// when it does not exist. Only a regular file is read, and opening it never
// waits (a FIFO in its place is refused). Throws TSettingsError when the
// file cannot be created or read. With `reconnect`, also fills it from the
// same bytes (ReconnectSettingsFromText).
TSettings LoadSettings(const QString &path, TReconnectSettings *reconnect = nullptr);

// Rewrites the file with SettingsTextWith atomically: a complete new file
// replaces the old one, or nothing changes. Throws TSettingsError when the
// file cannot be read or written (also when no new file can be made in its
// folder).
void SaveSettings(const QString &path, const TSettings &settings);

// The per-user folder for the settings: $XDG_CONFIG_HOME/qvr1pc, by default
// ~/.config/qvr1pc.
QString UserSettingsDir();

// config.ini beside the executable when a new file can be made in that
// folder; otherwise config.ini in `userDir`, which is created when needed.
// A per-user file that does not exist yet starts as a copy of the one beside
// the executable when that is a readable regular file.
QString SettingsPath(const QString &exeDir, const QString &userDir = UserSettingsDir());

// The values of section [Adapters] (the serial ports to list besides the
// system's), every key's non-empty value in file order; names matched
// without regard to case. Read afresh at every call, never waiting: empty
// when there is no regular file at `configPath` or no such section.
std::vector<std::string> AdapterPorts(const QString &configPath);

} // namespace qvr
