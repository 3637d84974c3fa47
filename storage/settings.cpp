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

// Item counts of the three lists whose selected index is stored.
constexpr int kSensorCountItems = 16;
constexpr int kSaveFreqItems = 16;
constexpr int kChartTypeItems = 2;

[[noreturn]] void Fail(const char *what, const QString &path, const QString &reason)
{
    throw std::runtime_error(
        QStringLiteral("%1 %2: %3")
            .arg(QString::fromUtf8(what), QDir::toNativeSeparators(path), reason)
            .toStdString());
}

// The file's bytes, or nullopt when there is no file. Only a regular file is
// read: a device, a FIFO or a folder in its place (also behind a symbolic
// link) is an error, never something to wait on, read to its end or replace.
// The type is checked on the opened descriptor, so a FIFO swapped in after a
// look at the name cannot block the open.
std::optional<QByteArray> ReadExisting(const QString &path)
{
    static const char what[] = "Nie można odczytać pliku";
    QFile file;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    if (!info.isFile())
        Fail(what, path, QStringLiteral("not a regular file"));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(what, path, file.errorString());
#else
    const int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return std::nullopt;
        Fail(what, path,
             error == EINVAL ? QStringLiteral("not a regular file")
                             : QString::fromLocal8Bit(std::strerror(error)));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        Fail(what, path, file.errorString());
    }
#endif
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(what, path, file.errorString());
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
        Fail("Nie można zapisać pliku", path, file.errorString());
    if (file.write(data) != data.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        Fail("Nie można zapisać pliku", path, reason);
    }
    if (!file.commit())
        Fail("Nie można zapisać pliku", path, file.errorString());
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

    int Integer(const char *key, int fallback) const
    {
        const char *value = Value(key);
        return value != nullptr ? ParseInteger(value).value_or(fallback) : fallback;
    }

    bool Flag(const char *key, bool fallback) const { return Integer(key, fallback) != 0; }

    // The value's characters, in the file's encoding, as they stand. In a
    // UTF-8 file a byte order mark at its start is one of them (decoding it
    // away would leave a leading space that the next reading trims, so the
    // value would change with every save).
    QString Text(const char *key, const char *fallback) const
    {
        const char *value = Value(key);
        return Decoded(value != nullptr ? value : fallback);
    }

    // Read as a regional real and shown in the general format, so the text
    // is a normalised form of the stored number.
    QString Real(const char *key, double fallback) const
    {
        const char *value = Value(key);
        const std::optional<double> real =
            value != nullptr ? ParseRegionalReal(Decoded(value)) : std::nullopt;
        return FormatGeneral(real.value_or(fallback));
    }

private:
    QString Decoded(const char *value) const
    {
        if (legacy_)
            return FromLegacy(value);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        return utf8(value);
    }

    bool legacy_; // Windows-1250
    CSimpleIniA ini_;
};

// The file as lines, edited the way the private-profile functions edit it: a
// key's line is rewritten in place, a new key goes after the last entry of
// the first section of its name, a missing section is added at the end.
// Lines are split and classified by the same rules the reader parses them
// with, and every line not written is kept byte for byte.
class ProfileLines {
public:
    explicit ProfileLines(QByteArray text)
    {
        static const QByteArray bom("\xEF\xBB\xBF");
        if (text.startsWith(bom)) {
            bom_ = bom;
            text.remove(0, bom.size());
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

QByteArray FlagText(bool ticked)
{
    return ticked ? "1" : "0";
}

} // namespace

TSettings NewFileSettings()
{
    TSettings s;
    s.AutoSave = false;
    s.Update = true;
    s.AutoConnect = true;
    s.SaveDate = s.SaveTime = s.SaveRaw = s.SavePercent = s.SaveCoeff = true;
#ifdef Q_OS_WIN
    s.SaveFile = QStringLiteral("c:\\pomiar.csv");
#else
    s.SaveFile = QDir::homePath() + QStringLiteral("/pomiar.csv");
#endif
    s.SensorCount = 0;
    s.SaveFreq = 0;
    s.ChartType = 0;
    s.Coeff = QStringLiteral("1");
    return s;
}

TSettings SettingsFromText(const QByteArray &data)
{
    const OptionsReader ini(data);
    TSettings s;
    s.AutoSave = ini.Flag("AutoSave", false);
    s.Update = ini.Flag("Update", false);
    s.AutoConnect = ini.Flag("AutoConnect", false);
    s.SaveDate = ini.Flag("SaveDate", true);
    s.SaveTime = ini.Flag("SaveTime", true);
    s.SaveRaw = ini.Flag("SaveRaw", true);
    s.SavePercent = ini.Flag("SavePercent", true);
    s.SaveCoeff = ini.Flag("SaveCoeff", true);
    s.SaveFile = ini.Text("SaveFile", "pomiar.csv");
    s.SensorCount = ListIndex(ini.Integer("SensorCount", 0), kSensorCountItems);
    s.SaveFreq = ListIndex(ini.Integer("SaveFreq", 0), kSaveFreqItems);
    s.ChartType = ListIndex(ini.Integer("ChartType", 0), kChartTypeItems);
    s.Coeff = ini.Real("Coeff", 1.0);
    return s;
}

namespace {

// `existing` with the thirteen keys rewritten, their values in `encode`'s
// encoding; nullopt when a value has no bytes in it.
std::optional<QByteArray> WithValues(const QByteArray &existing, const TSettings &s,
                                     std::optional<QByteArray> (*encode)(const QString &))
{
    // The coefficient is kept in single precision: 0,1 is saved as 0,100000001490116.
    const float coeff = ParseCoeff(s.Coeff).value_or(1.0f);
    const std::optional<QByteArray> saveFile = encode(s.SaveFile);
    const std::optional<QByteArray> coeffText = encode(FormatGeneral(static_cast<double>(coeff)));
    if (!saveFile || !coeffText)
        return std::nullopt;

    ProfileLines lines(existing);
    lines.Set(kSection, "AutoSave", FlagText(s.AutoSave));
    lines.Set(kSection, "Update", FlagText(s.Update));
    lines.Set(kSection, "AutoConnect", FlagText(s.AutoConnect));
    lines.Set(kSection, "SaveDate", FlagText(s.SaveDate));
    lines.Set(kSection, "SaveTime", FlagText(s.SaveTime));
    lines.Set(kSection, "SaveRaw", FlagText(s.SaveRaw));
    lines.Set(kSection, "SavePercent", FlagText(s.SavePercent));
    lines.Set(kSection, "SaveCoeff", FlagText(s.SaveCoeff));
    lines.Set(kSection, "SaveFile", *saveFile);
    lines.Set(kSection, "SensorCount",
              QByteArray::number(ListIndex(s.SensorCount, kSensorCountItems)));
    lines.Set(kSection, "SaveFreq", QByteArray::number(ListIndex(s.SaveFreq, kSaveFreqItems)));
    lines.Set(kSection, "ChartType", QByteArray::number(ListIndex(s.ChartType, kChartTypeItems)));
    lines.Set(kSection, "Coeff", *coeffText);
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

TSettings LoadSettings(const QString &path)
{
    std::optional<QByteArray> data = ReadExisting(path);
    if (!data) {
        SaveSettings(path, NewFileSettings());
        data = ReadExisting(path);
        if (!data)
            Fail("Nie można odczytać pliku", path, QStringLiteral("missing after creation"));
    }
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

} // namespace qvr
