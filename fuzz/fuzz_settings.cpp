// The settings file: any config.ini bytes are read; the values written back
// into the same bytes read again as the same values; other values written
// there read back as written; and every line that is not one of the keys of
// [Options] survives a save: byte for byte while the file keeps its encoding
// (a UTF-8 file always does), with the same text when a Windows-1250 file
// had to become UTF-8.
//
// Input: a locale byte, a byte choosing the other values, then the file.
#include "fuzz_common.h"
#include "storage/settings.h"

#include <QStringDecoder>
#include <string_view>
#include <vector>

using namespace qvr;
using namespace qvr::fuzz;

namespace {

const char *const kKeys[] = {"AutoSave", "Update",      "AutoConnect", "SaveDate", "SaveTime",
                             "SaveRaw",  "SavePercent", "SaveCoeff",   "SaveFile", "SensorCount",
                             "SaveFreq", "ChartType",   "Coeff"};

// What the coefficient is stored as: single precision, 1 when it is none.
float StoredCoeff(const QString &text)
{
    return ParseCoeff(text).value_or(1.0f);
}

bool SameExceptCoeff(const TSettings &a, const TSettings &b)
{
    return a.AutoSave == b.AutoSave && a.Update == b.Update && a.AutoConnect == b.AutoConnect &&
           a.SaveDate == b.SaveDate && a.SaveTime == b.SaveTime && a.SaveRaw == b.SaveRaw &&
           a.SavePercent == b.SavePercent && a.SaveCoeff == b.SaveCoeff &&
           a.SaveFile == b.SaveFile && a.SensorCount == b.SensorCount && a.SaveFreq == b.SaveFreq &&
           a.ChartType == b.ChartType;
}

bool Same(const TSettings &a, const TSettings &b)
{
    return SameExceptCoeff(a, b) && a.Coeff == b.Coeff;
}

// The values one to a line, for the report of a broken invariant.
QByteArray Describe(const TSettings &s)
{
    return QStringLiteral("%1%2%3%4%5%6%7%8 [%9] %10 %11 %12 [%13]")
        .arg(s.AutoSave)
        .arg(s.Update)
        .arg(s.AutoConnect)
        .arg(s.SaveDate)
        .arg(s.SaveTime)
        .arg(s.SaveRaw)
        .arg(s.SavePercent)
        .arg(s.SaveCoeff)
        .arg(s.SaveFile)
        .arg(s.SensorCount)
        .arg(s.SaveFreq)
        .arg(s.ChartType)
        .arg(s.Coeff)
        .toUtf8();
}

// The file `text` reads as `expected` (the same by `same`); what it reads as.
TSettings CheckReadsAs(const QByteArray &text, const TSettings &expected,
                       bool (*same)(const TSettings &, const TSettings &) = Same)
{
    const TSettings read = SettingsFromText(text);
    if (!same(read, expected))
        std::fprintf(stderr, "wrote %s\nread  %s\nfile:\n%s\n", Describe(expected).constData(),
                     Describe(read).constData(), text.toPercentEncoding(" =[];#\r\n").constData());
    FUZZ_REQUIRE(same(read, expected));
    return read;
}

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b)
{
    return QByteArray(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QByteArray(b.data(), static_cast<qsizetype>(b.size())),
                        Qt::CaseInsensitive) == 0;
}

// The lines without their ends ("\r\n", "\n" or a lone "\r"), after a BOM.
std::vector<QByteArray> Lines(QByteArray text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    std::vector<QByteArray> lines;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        lines.push_back(text.mid(pos, end - pos));
        if (end < text.size() && text[end] == '\r')
            ++end;
        if (end < text.size() && text[end] == '\n')
            ++end;
        pos = end;
    }
    return lines;
}

// Whether a save may rewrite the line: one of the thirteen keys in a section
// named Options.
std::vector<bool> Rewritable(const std::vector<QByteArray> &lines)
{
    std::vector<bool> rewritable;
    bool inOptions = false;
    for (const QByteArray &line : lines) {
        const std::string_view content =
            Trimmed(std::string_view(line.constData(), static_cast<size_t>(line.size())));
        const size_t close = content.find(']');
        const size_t equals = content.find('=');
        bool key = false;
        if (!content.empty() && content.front() == '[' && close != std::string_view::npos) {
            inOptions = SameName(Trimmed(content.substr(1, close - 1)), "Options");
        } else if (inOptions && equals != std::string_view::npos) {
            const std::string_view name = Trimmed(content.substr(0, equals));
            for (const char *k : kKeys)
                key = key || SameName(name, k);
        }
        rewritable.push_back(key);
    }
    return rewritable;
}

// A file that is not valid UTF-8 as UTF-8 with the same text (read as
// Windows-1250); a leading byte order mark stays one.
QByteArray AsUtf8(QByteArray text)
{
    if (text.isValidUtf8())
        return text;
    const bool bom = text.startsWith("\xEF\xBB\xBF");
    if (bom)
        text.remove(0, 3);
    QStringDecoder legacy("windows-1250", QStringDecoder::Flag::Stateless);
    return (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + QString(legacy(text)).toUtf8();
}

void CheckLinesKept(const QByteArray &before, const QByteArray &after)
{
    FUZZ_REQUIRE(before.startsWith("\xEF\xBB\xBF") == after.startsWith("\xEF\xBB\xBF"));
    // A UTF-8 file stays UTF-8; a Windows-1250 one that became UTF-8 keeps
    // the text of its lines.
    FUZZ_REQUIRE(!before.isValidUtf8() || after.isValidUtf8());
    const bool transcoded = before.isValidUtf8() != after.isValidUtf8();
    const std::vector<QByteArray> old = Lines(transcoded ? AsUtf8(before) : before);
    const std::vector<QByteArray> now = Lines(after);
    const std::vector<bool> rewritable = Rewritable(old);
    size_t at = 0;
    for (size_t i = 0; i < old.size(); ++i) {
        if (rewritable[i])
            continue;
        while (at < now.size() && now[at] != old[i])
            ++at;
        if (at == now.size())
            std::fprintf(stderr, "line %zu lost: %s\nafter the save:\n%s\n", i,
                         old[i].toPercentEncoding(" =[];#").constData(),
                         after.toPercentEncoding(" =[];#\r\n").constData());
        FUZZ_REQUIRE(at < now.size()); // kept, in the same order
        ++at;
    }
}

void CheckRange(const TSettings &s)
{
    FUZZ_REQUIRE(s.SensorCount >= -1 && s.SensorCount < 16);
    FUZZ_REQUIRE(s.SaveFreq >= -1 && s.SaveFreq < 16);
    FUZZ_REQUIRE(s.ChartType >= -1 && s.ChartType < 2);
    FUZZ_REQUIRE(ParseRegionalReal(s.Coeff).has_value());
}

// Values unlike the ones read, as the operator may leave them at close; the
// log path may hold a Polish letter and one Windows-1250 has no byte for.
TSettings Other(const TSettings &read, std::uint8_t choice)
{
    TSettings s = read;
    s.AutoSave = !s.AutoSave;
    s.Update = !s.Update;
    s.AutoConnect = !s.AutoConnect;
    s.SaveDate = !s.SaveDate;
    s.SaveTime = !s.SaveTime;
    s.SaveRaw = !s.SaveRaw;
    s.SavePercent = !s.SavePercent;
    s.SaveCoeff = !s.SaveCoeff;
    s.SaveFile = QStringLiteral("d:\\pomiar %1%2%3.csv")
                     .arg(choice)
                     .arg(choice & 0x40 ? u"ł"_qs : QString())
                     .arg(choice & 0x80 ? u"Ж"_qs : QString());
    s.SensorCount = choice % 17 - 1;
    s.SaveFreq = choice / 17 % 17 - 1;
    s.ChartType = choice % 3 - 1;
    s.Coeff = FormatGeneral(choice * -0.25);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TInput in(data, size);
    PickRegionalLocale(in.Byte());
    const std::uint8_t choice = in.Byte();
    const QByteArray file = in.Rest();

    const TSettings read = SettingsFromText(file);
    CheckRange(read);

    // Saved unchanged: the same values come back, the coefficient in single
    // precision.
    const TSettings reread = CheckReadsAs(SettingsTextWith(file, read), read, SameExceptCoeff);
    FUZZ_REQUIRE(StoredCoeff(read.Coeff) == StoredCoeff(reread.Coeff));

    // Saved changed (every flag turned over, the rest from the choice byte):
    // the new values come back, and only the lines of the keys were rewritten.
    const TSettings other = Other(read, choice);
    const QByteArray changed = SettingsTextWith(file, other);
    CheckReadsAs(changed, other);
    CheckLinesKept(file, changed);
    return 0;
}
