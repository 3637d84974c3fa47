// The settings file under a decimal comma: creation, per-key fallbacks and
// encodings, what a save keeps of the rest of the file, and failures.
#include "measure/regional.h"
#include "storage/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

using namespace qvr;

// The settings as the file writes them, one "Key=value" per line, so that a
// whole TSettings compares as text.
QString Describe(const TSettings &s)
{
    const auto flag = [](bool b) { return QString::number(b ? 1 : 0); };
    return QStringList{"AutoSave=" + flag(s.AutoSave),
                       "Update=" + flag(s.Update),
                       "AutoConnect=" + flag(s.AutoConnect),
                       "SaveDate=" + flag(s.SaveDate),
                       "SaveTime=" + flag(s.SaveTime),
                       "SaveRaw=" + flag(s.SaveRaw),
                       "SavePercent=" + flag(s.SavePercent),
                       "SaveCoeff=" + flag(s.SaveCoeff),
                       "SaveFile=" + s.SaveFile,
                       "SensorCount=" + QString::number(s.SensorCount),
                       "SaveFreq=" + QString::number(s.SaveFreq),
                       "ChartType=" + QString::number(s.ChartType),
                       "Coeff=" + s.Coeff}
        .join('\n');
}

const char kNewFile[] = "AutoSave=0\nUpdate=1\nAutoConnect=1\nSaveDate=1\nSaveTime=1\nSaveRaw=1\n"
                        "SavePercent=1\nSaveCoeff=1\nSaveFile=c:\\pomiar.csv\nSensorCount=0\n"
                        "SaveFreq=0\nChartType=0\nCoeff=1";
const char kFallbacks[] = "AutoSave=0\nUpdate=0\nAutoConnect=0\nSaveDate=1\nSaveTime=1\nSaveRaw=1\n"
                          "SavePercent=1\nSaveCoeff=1\nSaveFile=pomiar.csv\nSensorCount=0\n"
                          "SaveFreq=0\nChartType=0\nCoeff=1";

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetRegionalSettings("pl_PL.UTF-8");
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("config.ini");
    }
    void TearDown() override { SetRegionalSettings("C"); }

    void Write(const QByteArray &bytes)
    {
        QFile f(path_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray Read() const
    {
        QFile f(path_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    QTemporaryDir dir_;
    QString path_;
};

TEST_F(Settings, MissingFileIsCreatedWithNewFileValuesInOrder)
{
    const TSettings loaded = LoadSettings(path_);
    EXPECT_EQ(Read(), "[Options]\n" + QByteArray(kNewFile) + "\n");
    EXPECT_EQ(Describe(loaded), kNewFile);
    EXPECT_EQ(Describe(NewFileSettings()), kNewFile);
}

TEST_F(Settings, HeaderOnlyGivesFallbacksAndSaveAppendsAllKeysInOrder)
{
    Write("[Options]\n");
    const TSettings loaded = LoadSettings(path_);
    EXPECT_EQ(Describe(loaded), kFallbacks);
    SaveSettings(path_, loaded);
    EXPECT_EQ(Read(), "[Options]\n" + QByteArray(kFallbacks) + "\n");
}

TEST_F(Settings, EveryKeyRoundTrips)
{
    // Written into a missing file and read back: both directions use the same keys.
    const TSettings s{true, false, true, false, true, false, true, false, "/var/log/pomiary.csv",
                      15,   7,     1,    "2,5"};
    SaveSettings(path_, s); // no file yet
    EXPECT_EQ(Describe(LoadSettings(path_)), Describe(s));
}

// One key in an otherwise empty section: what the window shows, and what the
// save writes back for it.
TEST_F(Settings, ValuesAreReadWithTheirEncodingAndWrittenBack)
{
    struct Row {
        const char *line;
        const char *key;
        const char *shown;
        const char *saved;
    };
    const Row rows[] = {
        {"AutoSave=2", "AutoSave", "1", "1"},
        {"AutoSave=-1", "AutoSave", "1", "1"},
        {"AutoSave=0x0", "AutoSave", "0", "0"},
        {"Update=yes", "Update", "0", "0"},
        {"Update=", "Update", "0", "0"},
        {"Update = 1 ", "Update", "1", "1"},
        {"SaveRaw=0", "SaveRaw", "0", "0"},
        {"SaveRaw=no", "SaveRaw", "1", "1"},
        {"SaveFile=", "SaveFile", "", ""},
        {"SaveFile = d:\\dane\\log.csv ", "SaveFile", "d:\\dane\\log.csv", "d:\\dane\\log.csv"},
        {"SaveFile=a=b;c", "SaveFile", "a=b;c", "a=b;c"},
        {"SensorCount=15", "SensorCount", "15", "15"},
        {"SensorCount=16", "SensorCount", "-1", "-1"},
        {"SensorCount=-1", "SensorCount", "-1", "-1"},
        {"SensorCount=0x0A", "SensorCount", "10", "10"},
        {"SensorCount=0X0f", "SensorCount", "15", "15"},
        {"SensorCount=-0x1", "SensorCount", "-1", "-1"},
        {"SensorCount=0x", "SensorCount", "0", "0"},
        {"SensorCount=3abc", "SensorCount", "0", "0"},
        {"SensorCount=2,0", "SensorCount", "0", "0"},
        {"SensorCount=+3", "SensorCount", "0", "0"},
        {"SensorCount=4294967297", "SensorCount", "0", "0"}, // beyond int, not 1
        {"SaveFreq=15", "SaveFreq", "15", "15"},
        {"SaveFreq=16", "SaveFreq", "-1", "-1"},
        {"ChartType=1", "ChartType", "1", "1"},
        {"ChartType=2", "ChartType", "-1", "-1"},
        {"ChartType=-2147483648", "ChartType", "-1", "-1"},
        {"Coeff=abc", "Coeff", "1", "1"},
        {"Coeff=", "Coeff", "1", "1"},
        {"Coeff=0.5", "Coeff", "1", "1"}, // a point where the comma is the separator
        {"Coeff=2,50", "Coeff", "2,5", "2,5"},
        {"Coeff=0,1", "Coeff", "0,1", "0,100000001490116"},
        {"Coeff=-3", "Coeff", "-3", "-3"},
        {"Coeff=1e40", "Coeff", "1E+40", "1"}, // a number, but none in single precision
    };
    for (const Row &r : rows) {
        Write("[Options]\n" + QByteArray(r.line) + "\n");
        const TSettings loaded = LoadSettings(path_);
        const QStringList shown = Describe(loaded).split('\n');
        const QString key = QString::fromUtf8(r.key) + '=';
        const auto it = std::find_if(shown.begin(), shown.end(),
                                     [&](const QString &l) { return l.startsWith(key); });
        ASSERT_NE(it, shown.end());
        EXPECT_EQ(it->mid(key.size()), QString::fromUtf8(r.shown)) << r.line;

        SaveSettings(path_, loaded);
        const QByteArray file = Read();
        // The key's own line is rewritten in place, the twelve others follow it.
        EXPECT_TRUE(file.startsWith("[Options]\n" + key.toUtf8() + r.saved + "\n"))
            << r.line << "\n"
            << file.toStdString();
        EXPECT_EQ(file.count('\n'), 14) << r.line;
    }
}

TEST_F(Settings, CoefficientIsSavedInSinglePrecision)
{
    const std::pair<const char *, const char *> rows[] = {
        {"0,1", "0,100000001490116"},
        {"0,3", "0,300000011920929"},
        {"1", "1"},
        {"2,5", "2,5"},
        {"-1,5", "-1,5"},
        {"100000", "100000"},
        {"", "1"},
        {"abc", "1"},
        {"0.1", "1"},
        {" 0,5 ", "0,5"},
    };
    for (const auto &[typed, saved] : rows) {
        TSettings s = NewFileSettings();
        s.Coeff = QString::fromUtf8(typed);
        SaveSettings(path_, s);
        EXPECT_TRUE(Read().contains("\nCoeff=" + QByteArray(saved) + "\n")) << typed;
        // The next start shows the saved form.
        EXPECT_EQ(LoadSettings(path_).Coeff, QString::fromUtf8(saved)) << typed;
    }
}

TEST_F(Settings, NamesMatchWithoutRegardToCase)
{
    Write("[options]\nautosave=1\nSAVERAW=0\nsensorcount=3\n");
    TSettings loaded = LoadSettings(path_);
    EXPECT_TRUE(loaded.AutoSave);
    EXPECT_FALSE(loaded.SaveRaw);
    EXPECT_EQ(loaded.SensorCount, 3);

    loaded.SaveRaw = true;
    SaveSettings(path_, loaded);
    EXPECT_EQ(Read(), "[options]\nautosave=1\nSAVERAW=1\nsensorcount=3\nUpdate=0\nAutoConnect=0\n"
                      "SaveDate=1\nSaveTime=1\nSavePercent=1\nSaveCoeff=1\nSaveFile=pomiar.csv\n"
                      "SaveFreq=0\nChartType=0\nCoeff=1\n");
}

// A hand-edited file: CR LF line ends, no line end at the end, comments, blank
// lines, an unparsable line, repeated keys and sections, other sections.
// Only the thirteen keys' lines change; new keys go after the last entry of
// the first [Options] section.
TEST_F(Settings, EverythingElseInTheFileIsKept)
{
    Write("; written by hand\r\n"
          "\r\n"
          "[Adapters]\r\n"
          "port=/dev/ttyUSB3\r\n"
          "port = /dev/pts/7\r\n"
          "\r\n"
          "[ Options ]  ; main\r\n"
          "AutoSave=1\r\n"
          "Extra=keep me\r\n"
          "# a comment=with an equals sign\r\n"
          "  Update = 1\r\n"
          "AutoSave=0\r\n"
          "not a key line\r\n"
          "\r\n"
          "; about [Other]\r\n"
          "[Other]\r\n"
          "Coeff=7\r\n"
          "[OPTIONS]\r\n"
          "SensorCount=5\r\n"
          "\r\n"
          "; tail");
    TSettings loaded = LoadSettings(path_);
    EXPECT_TRUE(loaded.AutoSave); // the first of two
    EXPECT_TRUE(loaded.Update);
    EXPECT_EQ(loaded.SensorCount, 5); // from the repeated section
    EXPECT_EQ(loaded.Coeff, "1");     // [Other] is another section

    loaded.AutoSave = false;
    loaded.SensorCount = 2;
    SaveSettings(path_, loaded);
    EXPECT_EQ(Read().toStdString(), "; written by hand\r\n"
                                    "\r\n"
                                    "[Adapters]\r\n"
                                    "port=/dev/ttyUSB3\r\n"
                                    "port = /dev/pts/7\r\n"
                                    "\r\n"
                                    "[ Options ]  ; main\r\n"
                                    "AutoSave=0\r\n"
                                    "Extra=keep me\r\n"
                                    "# a comment=with an equals sign\r\n"
                                    "Update=1\r\n"
                                    "AutoSave=0\r\n"
                                    "not a key line\r\n"
                                    "AutoConnect=0\r\n"
                                    "SaveDate=1\r\n"
                                    "SaveTime=1\r\n"
                                    "SaveRaw=1\r\n"
                                    "SavePercent=1\r\n"
                                    "SaveCoeff=1\r\n"
                                    "SaveFile=pomiar.csv\r\n"
                                    "SaveFreq=0\r\n"
                                    "ChartType=0\r\n"
                                    "Coeff=1\r\n"
                                    "\r\n"
                                    "; about [Other]\r\n"
                                    "[Other]\r\n"
                                    "Coeff=7\r\n"
                                    "[OPTIONS]\r\n"
                                    "SensorCount=2\r\n"
                                    "\r\n"
                                    "; tail");
    EXPECT_EQ(Describe(LoadSettings(path_)), Describe(loaded));
}

// Lines the file parser alone would misread hide nothing after them: a NUL
// byte (files cut short by a power failure are often padded with them), a
// section name left open.
TEST_F(Settings, WhatIsSavedIsReadBackAfterAnyLine)
{
    const QByteArray files[] = {
        QByteArray(512, '\0'),
        QByteArrayLiteral("; us\0tawienia\n[Options]\nAutoSave=0\n"),
        QByteArrayLiteral("[Options]\nAutoSave=0\nSaveFile=a\0b\n\0\0\0"),
        "[Options]\nAutoSave=0\n[Adapters\nPort1=/dev/ttyUSB3\n",
        "[\nOptions]\nAutoSave=0\n",
        "\xEF\xBB\xBF[",
        "[Options]\nSaveFile =\xEF\xBB\xBF d.csv\n", // a byte order mark starting a value
        "[Options]\nSaveFile=d.csv\t\xEF \n",        // a character cut short ending it
    };
    for (const QByteArray &file : files) {
        Write(file);
        TSettings s = LoadSettings(path_);
        s.AutoSave = true;
        s.SensorCount = 7;
        SaveSettings(path_, s);
        EXPECT_EQ(Describe(LoadSettings(path_)), Describe(s)) << Read().toStdString();
    }
}

TEST_F(Settings, NewKeysBeforeABlankLineKeepIt)
{
    // The first line end, which new keys take, is a lone CR; the blank line
    // after the last entry ends with LF.
    Write("[Options]\rAutoSave=1\r\n\n[Other]\r");
    SaveSettings(path_, LoadSettings(path_));
    EXPECT_TRUE(Read().endsWith("=0\r\nCoeff=1\r\n\n[Other]\r")) << Read().toStdString();
}

TEST_F(Settings, MissingSectionIsAddedAtTheEnd)
{
    Write("[Adapters]\nport=/dev/pts/3");
    SaveSettings(path_, NewFileSettings());
    EXPECT_EQ(Read(), "[Adapters]\nport=/dev/pts/3\n[Options]\n" + QByteArray(kNewFile) + "\n");
}

TEST_F(Settings, LongAndPolishTextsSurvive)
{
    // The folder and the log path carry Polish letters; the path is 2047
    // characters long.
    const QString folder = dir_.filePath(QStringLiteral("zażółć gęślą jaźń"));
    ASSERT_TRUE(QDir().mkpath(folder));
    path_ = folder + QStringLiteral("/config.ini");

    TSettings s = NewFileSettings();
    s.SaveFile = QStringLiteral("/home/łukasz/pomiary/") +
                 QString(2047 - 21 - 8, QLatin1Char('x')) + QStringLiteral("żółw.csv");
    ASSERT_EQ(s.SaveFile.size(), 2047);
    SaveSettings(path_, s);
    EXPECT_TRUE(Read().contains("SaveFile=" + s.SaveFile.toUtf8() + "\n"));
    EXPECT_EQ(LoadSettings(path_).SaveFile, s.SaveFile);
}

TEST_F(Settings, FailuresNameTheFile)
{
    // A regular file where the folder should be: nothing can be created
    // there, whoever runs the test.
    QFile plain(dir_.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    QStringList paths{dir_.filePath("plain/config.ini"), dir_.filePath("missing/config.ini")};
    // A folder in place of the file.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("config.ini"));
    paths << path_;
    // A read-only folder stops everyone but the superuser.
    if (geteuid() != 0) {
        const QString locked = dir_.filePath("locked");
        ASSERT_TRUE(QDir().mkpath(locked));
        ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        paths << locked + "/config.ini";
    }

    for (const QString &path : paths) {
        const std::string name = QDir::toNativeSeparators(path).toStdString();
        try {
            LoadSettings(path);
            ADD_FAILURE() << "load did not fail: " << name;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
        try {
            SaveSettings(path, NewFileSettings());
            ADD_FAILURE() << "save did not fail: " << name;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
    }
}

TEST_F(Settings, PathBesideTheExecutableOrPerUser)
{
    const QString user = dir_.filePath("user/qvr1pc");
    const QString withFile = dir_.filePath("with-file");
    const QString empty = dir_.filePath("empty");
    ASSERT_TRUE(QDir().mkpath(withFile));
    ASSERT_TRUE(QDir().mkpath(empty));
    QFile existing(withFile + "/config.ini");
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();

    EXPECT_EQ(SettingsPath(withFile, user), withFile + "/config.ini");
    EXPECT_EQ(SettingsPath(empty, user), empty + "/config.ini");
    EXPECT_FALSE(QFileInfo::exists(user));
    EXPECT_EQ(SettingsPath(dir_.filePath("gone"), user), user + "/config.ini");
    EXPECT_TRUE(QFileInfo(user).isDir());
}

TEST_F(Settings, UserFolderFollowsXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/srv/conf");
    EXPECT_EQ(UserSettingsDir(), "/srv/conf/qvr1pc");
    qputenv("XDG_CONFIG_HOME", "relative/conf");
    EXPECT_EQ(UserSettingsDir(), QDir::homePath() + "/.config/qvr1pc");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserSettingsDir(), QDir::homePath() + "/.config/qvr1pc");
    if (wasSet)
        qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
