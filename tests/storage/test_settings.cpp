// The settings file under a decimal comma: creation, per-key fallbacks and
// encodings, what a save keeps of the rest of the file, and failures.
#include "measure/regional.h"
#include "storage/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

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

// The new-file values; the log goes to the home folder.
const QByteArray kNewFile =
    "AutoSave=0\nUpdate=1\nAutoConnect=1\nSaveDate=1\nSaveTime=1\nSaveRaw=1\n"
    "SavePercent=1\nSaveCoeff=1\nSaveFile=" +
    (QDir::homePath() + "/pomiar.csv").toUtf8() +
    "\nSensorCount=0\nSaveFreq=0\nChartType=0\nCoeff=1";
const char kFallbacks[] = "AutoSave=0\nUpdate=0\nAutoConnect=0\nSaveDate=1\nSaveTime=1\nSaveRaw=1\n"
                          "SavePercent=1\nSaveCoeff=1\nSaveFile=pomiar.csv\nSensorCount=0\n"
                          "SaveFreq=0\nChartType=0\nCoeff=1";

using namespace std::chrono_literals;

// Runs `call` on another thread and tells whether it came back in time. One
// that did not is waiting in an open of `fifo`: a write end opened and closed
// releases it with an end of file.
bool ReturnsPromptly(const std::function<void()> &call, const QString &fifo)
{
    std::future<void> done = std::async(std::launch::async, call);
    if (done.wait_for(5s) == std::future_status::ready)
        return true;
    const QByteArray name = QFile::encodeName(fifo);
    while (done.wait_for(10ms) != std::future_status::ready) {
        const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    return false;
}

// Folder permission bits bind this thread while the object lives, also when
// it runs as the superuser: its override of them is set aside. Without that,
// a read-only folder stops no one in CI, where the tests run as root.
class PermissionsBind {
public:
    PermissionsBind()
    {
#ifdef __linux__
        if (syscall(SYS_capget, &header_, caps_) != 0)
            return;
        if ((caps_[0].effective & (1u << CAP_DAC_OVERRIDE)) == 0)
            return;
        caps_[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        dropped_ = syscall(SYS_capset, &header_, caps_) == 0;
#endif
    }
    ~PermissionsBind()
    {
#ifdef __linux__
        if (dropped_) {
            caps_[0].effective |= 1u << CAP_DAC_OVERRIDE;
            syscall(SYS_capset, &header_, caps_);
        }
#endif
    }
    PermissionsBind(const PermissionsBind &) = delete;
    PermissionsBind &operator=(const PermissionsBind &) = delete;

private:
#ifdef __linux__
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps_[2] = {};
    bool dropped_ = false;
#endif
};

// What a settings error tells: "read <path>: <reason>" or "write ...".
QString Failure(const TSettingsError &e)
{
    return (e.Type() == TSettingsError::Kind::Read ? "read " : "write ") + e.Path() + ": " +
           e.Reason();
}

// The bytes of the file at `path`, or a marker that is in no file.
QByteArray Contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

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
    EXPECT_EQ(Read(), "[Options]\n" + kNewFile + "\n");
    EXPECT_EQ(Describe(loaded), QString::fromUtf8(kNewFile));
    EXPECT_EQ(Describe(NewFileSettings()), QString::fromUtf8(kNewFile));
    EXPECT_TRUE(QDir::isAbsolutePath(NewFileSettings().SaveFile));
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
    EXPECT_EQ(Read(), "[Adapters]\nport=/dev/pts/3\n[Options]\n" + kNewFile + "\n");
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
    // A read-only folder.
    const QString locked = dir_.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    paths << locked + "/config.ini";

    const PermissionsBind bind;
    for (const QString &path : paths) {
        const std::string name = QDir::toNativeSeparators(path).toStdString();
        try {
            LoadSettings(path);
            ADD_FAILURE() << "load did not fail: " << name;
        } catch (const TSettingsError &e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            EXPECT_EQ(e.Path(), path);
        }
        try {
            SaveSettings(path, NewFileSettings());
            ADD_FAILURE() << "save did not fail: " << name;
        } catch (const TSettingsError &e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            EXPECT_EQ(e.Path(), path);
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

// What stands where the file should be and is no regular file: refused at
// once by a load and by a save, and left in place.
TEST_F(Settings, OnlyARegularFileIsReadAndNothingWaits)
{
    struct Row {
        const char *name;
        std::function<bool(const QString &path, const QString &fifo)> make;
    };
    const auto mkfifo = [](const QString &at) {
        return ::mkfifo(QFile::encodeName(at).constData(), 0600) == 0;
    };
    const Row rows[] = {
        {"fifo", [&](const QString &path, const QString &) { return mkfifo(path); }},
        {"symbolic link to a fifo",
         [&](const QString &path, const QString &fifo) {
             return mkfifo(fifo) && QFile::link(fifo, path);
         }},
        {"folder", [](const QString &path, const QString &) { return QDir().mkpath(path); }},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString folder = dir_.filePath(QString::fromUtf8(r.name).replace(' ', '-'));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = folder + "/config.ini";
        const QString fifo = folder + "/fifo";
        ASSERT_TRUE(r.make(path, fifo));
        // Both fail reading the file; the save never gets to write.
        const QString expected = "read " + path + ": not a regular file";

        QString loadError;
        QString saveError;
        const bool prompt = ReturnsPromptly(
            [&] {
                try {
                    LoadSettings(path);
                } catch (const TSettingsError &e) {
                    loadError = Failure(e);
                }
                try {
                    SaveSettings(path, NewFileSettings());
                } catch (const TSettingsError &e) {
                    saveError = Failure(e);
                }
            },
            QFileInfo(path).isSymLink() ? fifo : path);
        EXPECT_TRUE(prompt) << "waited on the open";
        EXPECT_EQ(loadError, expected);
        EXPECT_EQ(saveError, expected);
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_FALSE(S_ISREG(st.st_mode)) << "replaced by the save";
    }
}

// The name alternates between a regular file and a FIFO while the file is
// loaded over and over: a look at the name and then an open by name would
// sooner or later open the FIFO and wait there.
TEST_F(Settings, AFifoSwappedInIsNeverWaitedOn)
{
    const QByteArray path = QFile::encodeName(path_);
    const QByteArray regular = QFile::encodeName(dir_.filePath("regular"));
    const QByteArray fifo = QFile::encodeName(dir_.filePath("fifo"));
    const QByteArray staged = QFile::encodeName(dir_.filePath("staged"));
    {
        QFile f(QFile::decodeName(regular));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Options]\nSensorCount=9\n");
    }
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ASSERT_EQ(::link(regular.constData(), path.constData()), 0);

    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (bool toFifo = true; !stop; toFifo = !toFifo) {
            ::link(toFifo ? fifo.constData() : regular.constData(), staged.constData());
            ::rename(staged.constData(), path.constData());
        }
    });
    int loaded = 0;
    int refused = 0;
    std::string unexpected;
    const bool prompt = ReturnsPromptly(
        [&] {
            for (const auto end = std::chrono::steady_clock::now() + 1500ms;
                 std::chrono::steady_clock::now() < end;) {
                try {
                    loaded += LoadSettings(path_).SensorCount == 9;
                } catch (const std::runtime_error &e) {
                    const std::string what = e.what();
                    if (what.find("not a regular file") != std::string::npos)
                        ++refused;
                    else
                        unexpected = what;
                }
            }
        },
        dir_.filePath("fifo"));
    stop = true;
    swapper.join();
    EXPECT_TRUE(prompt) << "waited on the open of a FIFO";
    EXPECT_EQ(unexpected, "");
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

// A folder where no new file can be made: the save fails naming the file and
// the old file keeps every byte (no rewriting in place).
TEST_F(Settings, SaveIntoAFolderWithoutRoomForANewFileLeavesTheOldFile)
{
    const QString folder = dir_.filePath("read-only");
    ASSERT_TRUE(QDir().mkpath(folder));
    path_ = folder + "/config.ini";
    const QByteArray old = "[Adapters]\nport=/dev/ttyUSB0\n[Options]\nAutoSave=0\n";
    Write(old);
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

    TSettings s = NewFileSettings();
    s.AutoSave = true;
    {
        const PermissionsBind bind;
        try {
            SaveSettings(path_, s);
            ADD_FAILURE() << "save did not fail";
        } catch (const TSettingsError &e) {
            EXPECT_TRUE(Failure(e).startsWith("write " + path_ + ": ")) << e.what();
        }
    }
    EXPECT_EQ(Read().toStdString(), old.toStdString());
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"config.ini"});
}

// Which file is used, and what the per-user file holds afterwards.
TEST_F(Settings, PathDependsOnWhereANewFileCanBeMade)
{
    enum Beside { None, Regular, Fifo, Folder };
    enum User { Missing, Own, CopyOfBeside };
    struct Row {
        const char *name;
        bool writable;
        Beside beside;
        bool userExists;
        bool usesBeside;
        User user;
    };
    const Row rows[] = {
        {"writable, file, no user file", true, Regular, false, true, Missing},
        {"writable, no file, no user file", true, None, false, true, Missing},
        {"writable, file, user file", true, Regular, true, true, Own},
        {"read-only, file, no user file", false, Regular, false, false, CopyOfBeside},
        {"read-only, file, user file", false, Regular, true, false, Own},
        {"read-only, no file, no user file", false, None, false, false, Missing},
        {"read-only, no file, user file", false, None, true, false, Own},
        {"read-only, fifo, no user file", false, Fifo, false, false, Missing},
        {"read-only, folder, no user file", false, Folder, false, false, Missing},
    };
    // Windows-1250 and CR LF: the copy is byte for byte.
    const QByteArray shared = "[Adapters]\r\nport=/dev/ttyUSB3\r\nopis=\xAF\xF3\xB3ta\r\n"
                              "[Options]\r\nAutoSave=1\r\n";
    const QByteArray own = "[Options]\nAutoSave=0\n";
    int n = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString root = dir_.filePath(QString::number(n++));
        const QString exe = root + "/bin";
        const QString user = root + "/user/qvr1pc";
        const QString besidePath = exe + "/config.ini";
        const QString userPath = user + "/config.ini";
        ASSERT_TRUE(QDir().mkpath(exe));
        if (r.beside == Regular) {
            QFile f(besidePath);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(shared);
        } else if (r.beside == Fifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(besidePath).constData(), 0600), 0);
        } else if (r.beside == Folder) {
            ASSERT_TRUE(QDir().mkpath(besidePath));
        }
        if (r.userExists) {
            ASSERT_TRUE(QDir().mkpath(user));
            QFile f(userPath);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(own);
        }
        if (!r.writable) {
            ASSERT_TRUE(QFile::setPermissions(exe, QFile::ReadOwner | QFile::ExeOwner));
        }

        QString chosen;
        EXPECT_TRUE(ReturnsPromptly(
            [&] {
                const PermissionsBind bind; // on the thread that makes the choice
                chosen = SettingsPath(exe, user);
            },
            besidePath));
        EXPECT_EQ(chosen.toStdString(), (r.usesBeside ? besidePath : userPath).toStdString());
        switch (r.user) {
        case Missing:
            EXPECT_FALSE(QFileInfo::exists(userPath));
            break;
        case Own:
            EXPECT_EQ(Contents(userPath).toStdString(), own.toStdString());
            break;
        case CopyOfBeside:
            EXPECT_EQ(Contents(userPath).toStdString(), shared.toStdString());
            break;
        }
        // Nothing but the user file is left in the user folder.
        EXPECT_EQ(QDir(user).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  r.user == Missing ? QStringList() : QStringList{"config.ini"});
        QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

// [Options] with the new-file values but `saveFile` as the log path.
QByteArray Options(const QByteArray &saveFile)
{
    return "[Options]\nAutoSave=0\nUpdate=1\nAutoConnect=1\nSaveDate=1\nSaveTime=1\nSaveRaw=1\n"
           "SavePercent=1\nSaveCoeff=1\nSaveFile=" +
           saveFile + "\nSensorCount=0\nSaveFreq=0\nChartType=0\nCoeff=1\n";
}

// Each save_* key switches its own log field, and only that one.
TEST(SettingsSchema, EachLogFlagSwitchesItsField)
{
    struct Row {
        bool TSettings::*flag;
        bool TLogFields::*field;
    };
    const Row rows[] = {{&TSettings::SaveDate, &TLogFields::Date},
                        {&TSettings::SaveTime, &TLogFields::Time},
                        {&TSettings::SaveRaw, &TLogFields::Raw},
                        {&TSettings::SavePercent, &TLogFields::Percent},
                        {&TSettings::SaveCoeff, &TLogFields::Scaled}};
    for (const Row &r : rows) {
        TSettings s = NewFileSettings();
        s.*r.flag = false;
        const TLogFields fields = LogFieldsOf(s);
        for (const Row &other : rows)
            EXPECT_EQ(fields.*other.field, other.field != r.field);
    }
}

// [Adapters]: every value in file order, whatever the key and its case;
// nothing from other sections, nothing for an empty value.
TEST(AdapterPorts, ValuesInFileOrderAnyKeyAnyCase)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        QByteArray file;
        std::vector<std::string> ports;
    } rows[] = {
        {"[Options]\r\nSensorCnt=3\r\n[adapters]\r\nzeta=/dev/ttyUSB3\r\nPort1 = /dev/pts/7\r\n"
         "Port1=ttyS1\r\nEmpty=\r\n[Other]\r\nPort=/dev/ttyS9\r\n",
         {"/dev/ttyUSB3", "/dev/pts/7", "ttyS1"}},
        {"[Options]\nA=1\n", {}},
    };
    const QString path = dir.filePath("config.ini");
    for (const auto &r : rows) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(r.file);
        f.close();
        EXPECT_EQ(AdapterPorts(path), r.ports) << r.file.toStdString();
    }
    EXPECT_TRUE(AdapterPorts(dir.filePath("missing.ini")).empty());
}

// What is no regular file gives no ports and is never waited on: a FIFO
// without a writer used to hang the program before its window showed.
TEST(AdapterPorts, NoRegularFileNoPortsAndNoWait)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("fifo.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString link = dir.filePath("config.ini");
    ASSERT_TRUE(QFile::link(fifo, link));
    const std::pair<const char *, QString> rows[] = {
        {"FIFO without a writer", fifo},
        {"link to that FIFO", link},
        {"folder", dir.path()},
        {"character device", "/dev/null"},
    };
    for (const auto &[name, path] : rows) {
        SCOPED_TRACE(name);
        std::vector<std::string> ports{"untouched"};
        EXPECT_TRUE(ReturnsPromptly([&] { ports = AdapterPorts(path); }, fifo));
        EXPECT_TRUE(ports.empty());
    }
}

// A file that is not valid UTF-8 is Windows-1250. The bytes here are written
// out by hand: "\xA3\xF3" "d\x9F" is "Łódź" in Windows-1250.
// [Reconnect]: off unless Enabled is 1; the interval at least 500 ms. The
// program never writes the section: a save keeps it as found.
TEST(ReconnectSettings, ReadAsFoundAndKeptBySave)
{
    const struct {
        const char *text;
        TReconnectSettings expected;
    } rows[] = {
        {"[Options]\n", {false, 2000}},
        {"[Reconnect]\nEnabled=1\n", {true, 2000}},
        {"[reconnect]\nenabled = 1\nintervalms = 750\n", {true, 750}},
        {"[Reconnect]\nEnabled=yes\nIntervalMs=100\n", {false, 500}},
        {"[Reconnect]\nEnabled=0\nIntervalMs=abc\n", {false, 2000}},
        {"[Reconnect]\nEnabled=2\nIntervalMs=-5\n", {false, 500}},
        {"[Reconnect]\nEnabled=1\nIntervalMs=99999999999\n", {true, 2000}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        const QByteArray text(row.text);
        const TReconnectSettings read = ReconnectSettingsFromText(text);
        EXPECT_EQ(read.Enabled, row.expected.Enabled);
        EXPECT_EQ(read.IntervalMs, row.expected.IntervalMs);
        const QByteArray saved = SettingsTextWith(text, SettingsFromText(text));
        EXPECT_TRUE(ReconnectSettingsFromText(saved) == read);
        if (text.contains("econnect")) {
            EXPECT_TRUE(saved.contains(text.mid(text.indexOf('['))));
        }
    }
}

TEST(SettingsEncoding, ValuesReadAndWrittenInTheFileEncoding)
{
    const QByteArray adapters1250 = "[Adapters]\n; \xA3\xF3"
                                    "d\x9F, Gda\xF1sk\nopis=\xAF\xF3\xB3ta skrzynka\n";
    const QByteArray adaptersUtf8 = "[Adapters]\n; Łódź, Gdańsk\nopis=Żółta skrzynka\n";
    struct Row {
        const char *name;
        QByteArray file;
        QString read; // SaveFile as read
        QString saved;
        QByteArray expected;
    };
    const Row rows[] = {
        {"Windows-1250 stays Windows-1250",
         adapters1250 + Options("C:\\Pomiary\\\xB3\xF3"
                                "d\x9F.csv"),
         u"C:\\Pomiary\\łódź.csv"_qs, u"D:\\Dane\\żaba ęś.csv"_qs,
         adapters1250 + Options("D:\\Dane\\\xBF"
                                "aba \xEA\x9C.csv")},
        {"UTF-8 stays UTF-8", adaptersUtf8 + Options("C:\\Pomiary\\łódź.csv"),
         u"C:\\Pomiary\\łódź.csv"_qs, u"D:\\Dane\\żaba ęś.csv"_qs,
         adaptersUtf8 + Options("D:\\Dane\\żaba ęś.csv")},
        {"a letter Windows-1250 lacks turns the file into UTF-8",
         adapters1250 + Options("C:\\Pomiary\\\xB3\xF3"
                                "d\x9F.csv"),
         u"C:\\Pomiary\\łódź.csv"_qs, u"/home/Жанна/łódź.csv"_qs,
         adaptersUtf8 + Options("/home/Жанна/łódź.csv")},
        // "\xC5\x82" is "Ĺ‚" in Windows-1250 and "ł" in UTF-8; with the
        // log path now plain ASCII, the file would read as UTF-8.
        {"a result that would read as UTF-8 turns into UTF-8",
         "[Adapters]\nopis=\xC5\x82\n" + Options("\xB3"), u"ł"_qs, u"a.csv"_qs,
         "[Adapters]\nopis=Ĺ‚\n" + Options("a.csv")},
        // 0x81 has no letter: it is kept as the control character U+0081.
        {"an unassigned byte survives transcoding", "; \x81\n" + Options("\xB3"), u"ł"_qs, u"Ж"_qs,
         "; \xC2\x81\n" + Options("Ж")},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TSettings s = SettingsFromText(r.file);
        EXPECT_EQ(s.SaveFile, r.read);
        s.SaveFile = r.saved;
        const QByteArray written = SettingsTextWith(r.file, s);
        EXPECT_EQ(written.toStdString(), r.expected.toStdString());
        EXPECT_EQ(Describe(SettingsFromText(written)), Describe(s));
        // Saved again unchanged: not a byte changes.
        EXPECT_EQ(SettingsTextWith(written, s).toStdString(), written.toStdString());
    }
}

} // namespace
