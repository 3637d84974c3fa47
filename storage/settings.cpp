#include "storage/settings.h"

#include "measure/derived.h"
#include "measure/regional.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryFile>
#include <algorithm>
#include <charconv>
#include <climits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#ifndef Q_OS_WIN
#include "storage/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

// Header-only use of the char flavour: the packaged header keeps its template
// bodies behind SI_IMPLEMENTATION, and the bytes are taken unchanged (values
// are decoded here, in the file's encoding).
// clang-format off
#define SI_IMPLEMENTATION
#define SI_NO_CONVERSION
#include <SimpleIni.h>
// clang-format on

namespace qvr {

namespace {

constexpr char kSection[] = "Options";
constexpr char kUserFolder[] = "qvr1pc";
constexpr char kFileName[] = "config.ini";

using Kind = TSettingsError::Kind;

[[noreturn]] void Fail(Kind kind, const QString &path, const QString &reason)
{
    throw TSettingsError(kind, path, reason);
}

// The file's bytes, or nullopt when there is no file. Only a regular file is
// read: a device, a FIFO or a folder in its place (also behind a symbolic
// link) is an error, never something to wait on, read to its end or replace.
// The type is checked on the opened descriptor, so a FIFO swapped in after a
// look at the name cannot block the open.
std::optional<QByteArray> ReadExisting(const QString &path)
{
    QFile file;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    if (!info.isFile())
        Fail(Kind::Read, path, QStringLiteral("not a regular file"));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(Kind::Read, path, file.errorString());
#else
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return std::nullopt;
        Fail(Kind::Read, path,
             error == EINVAL ? QStringLiteral("not a regular file")
                             : QString::fromLocal8Bit(std::strerror(error)));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        Fail(Kind::Read, path, file.errorString());
    }
#endif
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(Kind::Read, path, file.errorString());
    return data;
}

// Replaces the file atomically: a complete new file is renamed over the old
// one, or the save fails and the old file stays as it was. A folder where no
// new file can be made is a failure, never a reason to rewrite in place.
void WriteWhole(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        Fail(Kind::Write, path, file.errorString());
    if (file.write(data) != data.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        Fail(Kind::Write, path, reason);
    }
    if (!file.commit())
        Fail(Kind::Write, path, file.errorString());
}

// Whether a new file can be made in the folder, found by making one: the
// permission bits do not tell (the superuser, access control lists).
bool CanCreateIn(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".config.XXXXXX")));
    return probe.open();
}

// Files that are not valid UTF-8 were written by the earlier Windows
// installations, in Windows-1250. Its 256 bytes decode one to one (the five
// unassigned ones to C1 controls), so a decoded text encodes back to the
// same bytes.
constexpr char kLegacyEncoding[] = "windows-1250";

QString FromLegacy(QByteArrayView bytes)
{
    QStringDecoder decoder(kLegacyEncoding, QStringDecoder::Flag::Stateless);
    return decoder(bytes);
}

// nullopt when a character has no Windows-1250 byte.
std::optional<QByteArray> ToLegacy(const QString &text)
{
    QStringEncoder encoder(kLegacyEncoding, QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder(text);
    if (encoder.hasError() || !encoder.isValid())
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> ToUtf8(const QString &text)
{
    return text.toUtf8();
}

constexpr char kBom[] = "\xEF\xBB\xBF";

// A Windows-1250 file as UTF-8 with the same text; a leading byte order
// mark stays one, as the writer and the reader take it.
QByteArray LegacyToUtf8(QByteArray data)
{
    const bool bom = data.startsWith(kBom);
    if (bom)
        data.remove(0, 3);
    return (bom ? QByteArray(kBom) : QByteArray()) + FromLegacy(data).toUtf8();
}

// Decimal with an optional "-", hexadecimal after "0x" or "0X"; nullopt for
// anything else and for values outside int.
std::optional<int> ParseInteger(std::string_view text)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    unsigned long long magnitude = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    const unsigned long long limit = static_cast<unsigned long long>(INT_MAX) + (negative ? 1 : 0);
    if (magnitude > limit)
        return std::nullopt;
    const long long value = static_cast<long long>(magnitude);
    return static_cast<int>(negative ? -value : value);
}

// A list's selected index: -1 (no selection) for anything outside the list.
int ListIndex(int index, int items)
{
    return index >= 0 && index < items ? index : -1;
}

// The bytes as the parser is to see them, so that it finds every line where
// ProfileLines (the writer) finds it; otherwise a key written after such a
// line would never be read back. The parser stops at a NUL byte (a file cut
// short by a power failure may be padded with them): it reads each as the
// UTF-8 bytes of the replacement character instead (in a Windows-1250 file,
// the three letters those bytes are there). A line opening a section name
// that it does not close ("[Adapters", also right after a byte order mark)
// ends the section for the parser, never for the writer: the parser reads it
// as a comment.
QByteArray ForParser(QByteArray data)
{
    const std::string_view text(data.constData(), static_cast<size_t>(data.size()));
    std::vector<size_t> opened;
    for (size_t pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0; pos < text.size();) {
        const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        const size_t first = text.find_first_not_of(" \t", pos);
        if (first < end && text[first] == '[' &&
            text.substr(first, end - first).find(']') == text.npos)
            opened.push_back(first);
        pos = end + 1;
    }
    for (const size_t at : opened)
        data[static_cast<qsizetype>(at)] = ';';
    return data.replace('\0', "\xEF\xBF\xBD");
}

// A value's characters, in the file's encoding, as they stand. In a UTF-8
// file a byte order mark at its start is one of them (decoding it away would
// leave a leading space that the next reading trims, so the value would
// change with every save).
QString Decoded(const char *value, bool legacy)
{
    if (legacy)
        return FromLegacy(value);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8(value);
}

// The [Options] keys as the file reader sees them: names matched without
// regard to case, the first of repeated keys wins.
class OptionsReader {
public:
    explicit OptionsReader(const QByteArray &data)
        : legacy_(!data.isValidUtf8()), ini_(false, true, false)
    {
        const QByteArray text = ForParser(data);
        if (ini_.LoadData(text.constData(), static_cast<size_t>(text.size())) < 0)
            throw std::bad_alloc();
    }

    const char *Value(const char *key) const { return ini_.GetValue(kSection, key, nullptr); }
    bool Legacy() const { return legacy_; } // Windows-1250

private:
    bool legacy_;
    CSimpleIniA ini_;
};

// Sets the key's member from `value`, spelt as in the file; false, leaving
// the member alone, when there is no value or it does not parse. A real is
// kept in the general format, so the text is a normalised form of the number.
bool ReadValue(const TSettingKey &key, const char *value, bool legacy, TSettings &s)
{
    if (value == nullptr)
        return false;
    switch (key.Kind) {
    case TSettingKind::Flag:
    case TSettingKind::Index: {
        const std::optional<int> number = ParseInteger(value);
        if (!number)
            return false;
        if (key.Kind == TSettingKind::Flag)
            s.*key.Flag = *number != 0;
        else
            s.*key.Index = ListIndex(*number, key.Items);
        return true;
    }
    case TSettingKind::Text:
        s.*key.Text = Decoded(value, legacy);
        return true;
    case TSettingKind::Real: {
        const std::optional<double> real = ParseRegionalReal(Decoded(value, legacy));
        if (real)
            s.*key.Text = FormatGeneral(*real);
        return real.has_value();
    }
    }
    return false;
}

// The key's value as written, in `encode`'s encoding; nullopt when a text
// has no bytes in it. A real is kept in single precision: 0,1 is saved as
// 0,100000001490116, and what is no number is saved as the fallback.
std::optional<QByteArray> WrittenValue(const TSettingKey &key, const TSettings &s,
                                       std::optional<QByteArray> (*encode)(const QString &))
{
    switch (key.Kind) {
    case TSettingKind::Flag:
        return QByteArray(s.*key.Flag ? "1" : "0");
    case TSettingKind::Index:
        return QByteArray::number(ListIndex(s.*key.Index, key.Items));
    case TSettingKind::Text:
        return encode(s.*key.Text);
    case TSettingKind::Real: {
        std::optional<float> real = ParseCoeff(s.*key.Text);
        if (!real)
            real = ParseCoeff(QString::fromLatin1(key.Fallback));
        return encode(FormatGeneral(static_cast<double>(real.value_or(1.0f))));
    }
    }
    return std::nullopt;
}

// The log a new file names: pomiar.csv in the home folder.
QString NewFileLog()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\pomiar.csv");
#else
    return QDir::homePath() + QStringLiteral("/pomiar.csv");
#endif
}

constexpr TSettingKey FlagKey(const char *key, bool TSettings::*member, const char *fallback,
                              const char *newFile, const char *control,
                              bool TLogFields::*field = nullptr)
{
    return {key, TSettingKind::Flag, member,  nullptr, nullptr,
            0,   fallback,           newFile, control, field};
}

constexpr TSettingKey TextKey(const char *key, TSettingKind kind, QString TSettings::*member,
                              const char *fallback, const char *newFile, const char *control)
{
    return {key, kind, nullptr, member, nullptr, 0, fallback, newFile, control, nullptr};
}

constexpr TSettingKey IndexKey(const char *key, int TSettings::*member, int items,
                               const char *fallback, const char *newFile, const char *control)
{
    return {
        key,    TSettingKind::Index, nullptr, nullptr, member, items, fallback, newFile, control,
        nullptr};
}

// A missing Update, AutoConnect or SaveFile reads otherwise than a new file
// starts: files of the earlier installations lacking them keep that meaning.
constexpr std::array<TSettingKey, kSettingKeys> kSchema{{
    FlagKey("AutoSave", &TSettings::AutoSave, "0", "0", "AutoSaveData"),
    FlagKey("Update", &TSettings::Update, "0", "1", "AutoUpdateData"),
    FlagKey("AutoConnect", &TSettings::AutoConnect, "0", "1", "auto_connect"),
    FlagKey("SaveDate", &TSettings::SaveDate, "1", "1", "save_data", &TLogFields::Date),
    FlagKey("SaveTime", &TSettings::SaveTime, "1", "1", "save_time", &TLogFields::Time),
    FlagKey("SaveRaw", &TSettings::SaveRaw, "1", "1", "save_raw", &TLogFields::Raw),
    FlagKey("SavePercent", &TSettings::SavePercent, "1", "1", "save_percent", &TLogFields::Percent),
    FlagKey("SaveCoeff", &TSettings::SaveCoeff, "1", "1", "save_coeff", &TLogFields::Scaled),
    TextKey("SaveFile", TSettingKind::Text, &TSettings::SaveFile, "pomiar.csv", nullptr,
            "FileName"),
    IndexKey("SensorCount", &TSettings::SensorCount, 16, "0", "0", "SensorCnt"),
    IndexKey("SaveFreq", &TSettings::SaveFreq, 16, "0", "0", "SaveFreq"),
    IndexKey("ChartType", &TSettings::ChartType, 2, "0", "0", "ChartType"),
    TextKey("Coeff", TSettingKind::Real, &TSettings::Coeff, "1", "1", "Coeff"),
}};

// The file as lines, edited the way the private-profile functions edit it: a
// key's line is rewritten in place, a new key goes after the last entry of
// the first section of its name, a missing section is added at the end.
// Lines are split and classified by the same rules the reader parses them
// with, and every line not written is kept byte for byte.
class ProfileLines {
public:
    explicit ProfileLines(QByteArray text)
    {
        static const QByteArray kBom("\xEF\xBB\xBF");
        if (text.startsWith(kBom)) {
            bom_ = kBom;
            text.remove(0, kBom.size());
        }
        qsizetype pos = 0;
        while (pos < text.size()) {
            qsizetype end = pos;
            while (end < text.size() && text[end] != '\r' && text[end] != '\n')
                ++end;
            // "\r\n", "\n" and a lone "\r" each end a line, as for the reader.
            qsizetype next = end;
            if (next < text.size() && text[next] == '\r')
                ++next;
            if (next < text.size() && text[next] == '\n')
                ++next;
            lines_.push_back({text.mid(pos, end - pos), text.mid(end, next - end)});
            if (newline_.isEmpty() && next > end)
                newline_ = text.mid(end, next - end);
            pos = next;
        }
        if (newline_.isEmpty())
            newline_ = "\n";
    }

    void Set(const char *section, const char *key, const QByteArray &value)
    {
        int insertAfter = -1;
        bool inSection = false;
        bool inFirst = false;
        for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
            const std::string_view content = Content(lines_[i].text);
            if (const std::optional<std::string_view> name = SectionName(content)) {
                inSection = SameName(*name, section);
                inFirst = inSection && insertAfter < 0;
                if (inFirst)
                    insertAfter = i;
                continue;
            }
            if (!inSection)
                continue;
            const std::optional<std::string_view> name = KeyName(content);
            if (name && SameName(*name, key)) {
                lines_[i].text = QByteArray(name->data(), name->size()) + '=' + value;
                return;
            }
            if (inFirst && !content.empty() && !IsComment(content))
                insertAfter = i;
        }
        if (insertAfter < 0) {
            Insert(static_cast<int>(lines_.size()), '[' + QByteArray(section) + ']');
            insertAfter = static_cast<int>(lines_.size()) - 1;
        }
        Insert(insertAfter + 1, QByteArray(key) + '=' + value);
    }

    QByteArray Text() const
    {
        QByteArray text = bom_;
        for (const Line &line : lines_)
            text += line.text + line.eol;
        return text;
    }

private:
    struct Line {
        QByteArray text;
        QByteArray eol; // empty only on a last line without a line end
    };

    static bool IsSpace(char c) { return c == ' ' || c == '\t'; }

    static std::string_view Trimmed(std::string_view s)
    {
        while (!s.empty() && IsSpace(s.front()))
            s.remove_prefix(1);
        while (!s.empty() && IsSpace(s.back()))
            s.remove_suffix(1);
        return s;
    }

    static std::string_view Content(const QByteArray &text)
    {
        return Trimmed(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    }

    static bool IsComment(std::string_view content)
    {
        return !content.empty() && (content.front() == ';' || content.front() == '#');
    }

    // "[ name ]" with anything after the bracket; a line without the closing
    // bracket is no section and no key.
    static std::optional<std::string_view> SectionName(std::string_view content)
    {
        if (content.empty() || content.front() != '[')
            return std::nullopt;
        const size_t close = content.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        return Trimmed(content.substr(1, close - 1));
    }

    static std::optional<std::string_view> KeyName(std::string_view content)
    {
        if (content.empty() || IsComment(content) || content.front() == '[')
            return std::nullopt;
        const size_t equals = content.find('=');
        if (equals == std::string_view::npos || equals == 0)
            return std::nullopt;
        return Trimmed(content.substr(0, equals));
    }

    static bool SameName(std::string_view a, std::string_view b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            const auto lower = [](char c) {
                return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
            };
            if (lower(a[i]) != lower(b[i]))
                return false;
        }
        return true;
    }

    void Insert(int at, QByteArray text)
    {
        if (at > 0 && lines_[at - 1].eol.isEmpty())
            lines_[at - 1].eol = newline_;
        // A lone CR before an empty line ended by LF would join it into one CR LF.
        const bool joins = newline_ == "\r" && at < static_cast<int>(lines_.size()) &&
                           lines_[at].text.isEmpty() && lines_[at].eol == "\n";
        lines_.insert(lines_.begin() + at, Line{std::move(text), joins ? "\r\n" : newline_});
    }

    QByteArray bom_;
    QByteArray newline_;
    std::vector<Line> lines_;
};

} // namespace

TSettingsError::TSettingsError(Kind kind, const QString &path, const QString &reason)
    : std::runtime_error(
          QStringLiteral("cannot %1 %2: %3")
              .arg(kind == Kind::Read ? QStringLiteral("read") : QStringLiteral("write"),
                   QDir::toNativeSeparators(path), reason)
              .toStdString()),
      kind_(kind), path_(path), reason_(reason)
{
}

const std::array<TSettingKey, kSettingKeys> &SettingsSchema()
{
    return kSchema;
}

TLogFields LogFieldsOf(const TSettings &s)
{
    TLogFields fields;
    for (const TSettingKey &key : kSchema)
        if (key.Field != nullptr)
            fields.*key.Field = s.*key.Flag;
    return fields;
}

TSettings NewFileSettings()
{
    TSettings s;
    for (const TSettingKey &key : kSchema) {
        if (key.NewFile != nullptr)
            ReadValue(key, key.NewFile, false, s);
        else
            s.*key.Text = NewFileLog();
    }
    return s;
}

TSettings SettingsFromText(const QByteArray &data)
{
    const OptionsReader ini(data);
    TSettings s;
    for (const TSettingKey &key : kSchema)
        if (!ReadValue(key, ini.Value(key.Key), ini.Legacy(), s))
            ReadValue(key, key.Fallback, false, s);
    return s;
}

namespace {

// `existing` with the thirteen keys rewritten, their values in `encode`'s
// encoding; nullopt when a value has no bytes in it.
std::optional<QByteArray> WithValues(const QByteArray &existing, const TSettings &s,
                                     std::optional<QByteArray> (*encode)(const QString &))
{
    ProfileLines lines(existing);
    for (const TSettingKey &key : kSchema) {
        const std::optional<QByteArray> value = WrittenValue(key, s, encode);
        if (!value)
            return std::nullopt;
        lines.Set(kSection, key.Key, *value);
    }
    return lines.Text();
}

} // namespace

QByteArray SettingsTextWith(const QByteArray &existing, const TSettings &s)
{
    if (existing.isValidUtf8())
        return *WithValues(existing, s, ToUtf8);
    // A Windows-1250 file stays one while its values fit and the result still
    // reads as Windows-1250. Otherwise the whole file becomes UTF-8, every
    // line with the same text, so that it reads back as written.
    const std::optional<QByteArray> legacy = WithValues(existing, s, ToLegacy);
    if (legacy && !legacy->isValidUtf8())
        return *legacy;
    return *WithValues(LegacyToUtf8(existing), s, ToUtf8);
}

TSettings LoadSettings(const QString &path, TReconnectSettings *reconnect)
{
    std::optional<QByteArray> data = ReadExisting(path);
    if (!data) {
        SaveSettings(path, NewFileSettings());
        data = ReadExisting(path);
        if (!data)
            Fail(Kind::Read, path, QStringLiteral("missing after creation"));
    }
    if (reconnect != nullptr)
        *reconnect = ReconnectSettingsFromText(*data);
    return SettingsFromText(*data);
}

void SaveSettings(const QString &path, const TSettings &s)
{
    WriteWhole(path, SettingsTextWith(ReadExisting(path).value_or(QByteArray()), s));
}

QString UserSettingsDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid and ignored, as the base-directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QLatin1Char('/') + QLatin1String(kUserFolder);
}

QString SettingsPath(const QString &exeDir, const QString &userDir)
{
    const QString besideExe = QDir(exeDir).filePath(QLatin1String(kFileName));
    if (CanCreateIn(exeDir))
        return besideExe;
    QDir().mkpath(userDir);
    const QString user = QDir(userDir).filePath(QLatin1String(kFileName));
    // The first per-user file starts as a copy of the one beside the
    // executable, so that what an administrator put there carries over. A
    // copy that fails leaves no file: the load creates it with new values.
    if (!QFileInfo::exists(user) && !QFileInfo(user).isSymLink()) {
        try {
            if (const std::optional<QByteArray> shared = ReadExisting(besideExe))
                WriteWhole(user, *shared);
        } catch (const std::runtime_error &) {
        }
    }
    return user;
}

std::vector<std::string> AdapterPorts(const QString &configPath)
{
    std::optional<QByteArray> text;
    try {
        text = ReadExisting(configPath);
    } catch (const TSettingsError &) {
    }
    if (!text)
        return {};
    CSimpleIniA ini(true, true); // a key may repeat
    if (ini.LoadData(text->constData(), static_cast<size_t>(text->size())) < 0)
        return {};
    const CSimpleIniA::TKeyVal *section = ini.GetSection("Adapters");
    if (section == nullptr)
        return {};

    // The section holds its keys by name; their load order is the file's.
    std::vector<std::pair<CSimpleIniA::Entry, std::string>> entries;
    for (const auto &[key, value] : *section)
        entries.emplace_back(key, value != nullptr ? value : "");
    std::stable_sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        return CSimpleIniA::Entry::LoadOrder()(a.first, b.first);
    });

    std::vector<std::string> ports;
    for (const auto &entry : entries)
        if (!entry.second.empty())
            ports.push_back(entry.second);
    return ports;
}

TReconnectSettings ReconnectSettingsFromText(const QByteArray &data)
{
    TReconnectSettings settings;
    CSimpleIniA ini(true, false);
    if (ini.LoadData(data.constData(), static_cast<size_t>(data.size())) < 0)
        return settings;
    const char *enabled = ini.GetValue("Reconnect", "Enabled", "");
    settings.Enabled = QByteArray(enabled).trimmed() == "1";
    bool ok = false;
    const int interval =
        QByteArray(ini.GetValue("Reconnect", "IntervalMs", "")).trimmed().toInt(&ok, 10);
    if (ok)
        settings.IntervalMs = std::max(interval, TReconnectSettings::kMinIntervalMs);
    return settings;
}

} // namespace qvr
