// Start-up and shut-down: the settings file into the controls, the steps
// that follow in their order, the caption and page, the log on the save
// tick, the settings back into the file at close.
#include "link/fake_library.h"
#include "measure/regional.h"
#include "ui/Main.h"
#include "ui/window_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using qvr::test::FakeLibrary;
using qvr::test::SettingsFile;

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What start-up leaves: the controls the settings feed, the link, the
// requests sent, the logging switches.
struct Started {
    bool autoSave, autoUpdate, autoConnect, saveFlags;
    QString fileName;
    int sensorCnt, saveFreq, chartType;
    QString coeff;
    bool linkUp;
    std::size_t requests;
    bool saveData, updateData;
};

Started StartedBy(const TFMain &w, const FakeLibrary &library)
{
    const bool flags = w.Form().save_data->isChecked() && w.Form().save_time->isChecked() &&
                       w.Form().save_raw->isChecked() && w.Form().save_percent->isChecked() &&
                       w.Form().save_coeff->isChecked();
    return {w.Form().AutoSaveData->isChecked(),
            w.Form().AutoUpdateData->isChecked(),
            w.Form().auto_connect->isChecked(),
            flags,
            w.Form().FileName->text(),
            w.Form().SensorCnt->currentIndex(),
            w.Form().SaveFreq->currentIndex(),
            w.Form().ChartType->currentIndex(),
            w.Form().Coeff->text(),
            w.Link()->IsOpen(),
            library.Written.size(),
            w.Form().SaveData->isChecked(),
            w.Form().UpdateData->isChecked()};
}

struct StartCase {
    const char *name;
    std::optional<QByteArray> file; // nullopt: no file yet
    std::vector<std::string> adapters;
    Started expected;
};

void PrintTo(const StartCase &c, std::ostream *os)
{
    *os << c.name;
}

class StartUp : public ::testing::TestWithParam<StartCase> {
protected:
    void SetUp() override { qvr::SetRegionalSettings("pl_PL.UTF-8"); }
    void TearDown() override { qvr::SetRegionalSettings("C"); }
};

TEST_P(StartUp, LoadsTheSettingsThenConnectsThenPolls)
{
    const StartCase &c = GetParam();
    QTemporaryDir dir;
    const QString config = dir.filePath("config.ini");
    if (c.file) {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(*c.file);
    }
    FakeLibrary library;
    library.Adapters = c.adapters;
    // The link must be up before polling is switched on, and polling off
    // while it comes up: the first request goes out once, from step 7.
    bool updateDataWhenOpened = true;
    library.OnCall = [&](const std::string &call) {
        if (call == "OpenEx")
            updateDataWhenOpened = false;
    };
    TFMain w(library, config);
    library.OnCall = [&](const std::string &call) {
        if (call == "OpenEx")
            updateDataWhenOpened = w.Form().UpdateData->isChecked();
    };
    w.Form().PageControl1->setCurrentIndex(2);
    w.FormCreate();

    const Started s = StartedBy(w, library);
    const Started &e = c.expected;
    EXPECT_EQ(s.autoSave, e.autoSave);
    EXPECT_EQ(s.autoUpdate, e.autoUpdate);
    EXPECT_EQ(s.autoConnect, e.autoConnect);
    EXPECT_EQ(s.saveFlags, e.saveFlags);
    EXPECT_EQ(s.fileName, e.fileName);
    EXPECT_EQ(s.sensorCnt, e.sensorCnt);
    EXPECT_EQ(s.saveFreq, e.saveFreq);
    EXPECT_EQ(s.chartType, e.chartType);
    EXPECT_EQ(s.coeff, e.coeff);
    EXPECT_EQ(s.linkUp, e.linkUp);
    EXPECT_EQ(s.requests, e.requests);
    EXPECT_EQ(s.saveData, e.saveData);
    EXPECT_EQ(s.updateData, e.updateData);
    if (s.linkUp) {
        EXPECT_FALSE(updateDataWhenOpened);
    }
    EXPECT_EQ(w.windowTitle(), QStringLiteral("QVR-1 PC  wersja: 1.02"));
    EXPECT_EQ(w.Form().PageControl1->currentWidget(), w.Form().TabSheet1);
    // The grid and the gauges follow the loaded count and chart type.
    EXPECT_EQ(w.Form().SensorValue->rowCount(), e.sensorCnt + 2);
    EXPECT_EQ(!w.Form().Chart2->isHidden(), e.chartType == 1);
    EXPECT_EQ(!w.Form().Chart1->isHidden(), e.chartType != 1);
    EXPECT_TRUE(QFile::exists(config));
}

// A first start logs into the home folder.
const QString kFirstStartLog = QDir::homePath() + QStringLiteral("/pomiar.csv");

const StartCase kStartCases[] = {
    {"FirstStartCreatesTheFileConnectsAndPolls",
     std::nullopt,
     {"Adapter A"},
     {false, true, true, true, kFirstStartLog, 0, 0, 0, "1", true, 1, false, true}},
    {"HeaderOnlyGivesTheFallbacks",
     QByteArray("[Options]\n"),
     {"Adapter A"},
     {false, false, false, true, "pomiar.csv", 0, 0, 0, "1", false, 0, false, false}},
    {"AllThreeAutomaticOptionsOn",
     QByteArray("[options]\nautosave=2\nUPDATE=1\nAutoConnect=0x1\nSensorCount=0x0A\n"
                "SaveFile=/tmp/x.csv\nCoeff=0,5\n"),
     {"Adapter A"},
     {true, true, true, true, "/tmp/x.csv", 10, 0, 0, "0,5", true, 1, true, true}},
    {"UpdateWithoutAutoConnectSendsNothing",
     QByteArray("[Options]\nUpdate=1\nAutoConnect=0\nChartType=1\n"),
     {"Adapter A"},
     {false, true, false, true, "pomiar.csv", 0, 0, 1, "1", false, 0, false, true}},
    {"NoAdapterStartUpCompletes",
     std::nullopt,
     {},
     {false, true, true, true, kFirstStartLog, 0, 0, 0, "1", false, 0, false, true}},
    {"OddValuesLeaveNoSelectionAndTheFallbacks",
     QByteArray("[Options]\nUpdate=yes\nSensorCount=16\nSaveFreq=-1\nChartType=2\nCoeff=abc\n"
                "SaveDate=0\n"),
     {"Adapter A"},
     {false, false, false, false, "pomiar.csv", -1, -1, -1, "1", false, 0, false, false}},
};

INSTANTIATE_TEST_SUITE_P(Settings, StartUp, ::testing::ValuesIn(kStartCases),
                         [](const auto &info) { return std::string(info.param.name); });

// From the settings load on, an error ends start-up: the steps after it are
// skipped and the caption stays the form's.
TEST(StartUpFailure, SettingsThatCannotBeCreatedSkipTheRemainingSteps)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FakeLibrary library;
    library.Adapters = {"Adapter A"};
    TFMain w(library, dir.filePath("file/config.ini"));
    const QString caption = w.windowTitle();
    try {
        w.FormCreate();
        ADD_FAILURE() << "start-up went on without its settings";
    } catch (const std::exception &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("config.ini")));
    }
    EXPECT_EQ(w.Form().UsbBox->count(), 1); // the listing before it was done
    EXPECT_FALSE(w.Link()->IsOpen());
    EXPECT_EQ(w.windowTitle(), caption);
    EXPECT_EQ(caption, QStringLiteral("FMain"));
}

// A file that could not be read at start is never written at close: the
// controls hold fallbacks, and writing them would wipe the operator's
// settings once the file is back.
TEST(StartUpFailure, AFileThatCouldNotBeReadIsNeverWritten)
{
    const struct {
        const char *name;
        std::function<bool(const QString &)> block;
    } rows[] = {
        {"a folder in its place", [](const QString &path) { return QDir().mkdir(path); }},
        {"a FIFO in its place",
         [](const QString &path) {
             return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString config = dir.filePath("config.ini");
        ASSERT_TRUE(row.block(config));
        FakeLibrary library;
        TFMain w(library, config);
        EXPECT_THROW(w.FormCreate(), std::exception);

        // The operator's file is back before the close.
        ASSERT_TRUE(QFileInfo(config).isDir() ? QDir(config).removeRecursively()
                                              : QFile::remove(config));
        const QByteArray operators = "[Options]\nAutoConnect=1\nSaveFile=/home/op/log.csv\n";
        {
            QFile f(config);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(operators);
        }
        EXPECT_NO_THROW(w.FormClose());
        EXPECT_EQ(ReadFile(config), operators);
    }
}

// --- Running: the log on the save tick ------------------------------------------------------

class Logging : public ::testing::Test {
protected:
    void SetUp() override
    {
        qvr::SetRegionalSettings("pl_PL.UTF-8");
        log = dir.filePath("pomiar.csv");
        library.Adapters = {"Adapter A"};
        config = SettingsFile("; kept\n[Options]\nAutoSave=1\nUpdate=1\nAutoConnect=1\n"
                              "SensorCount=1\nUnknown=7\nSaveFile=" +
                              log.toUtf8() + "\n[Adapters]\nPort1=/dev/x\n");
        window = std::make_unique<TFMain>(library, config);
        window->FormCreate();
    }
    void TearDown() override { qvr::SetRegionalSettings("C"); }

    QTemporaryDir dir;
    QString log, config;
    FakeLibrary library;
    std::unique_ptr<TFMain> window;
};

TEST_F(Logging, FirstTickWritesALineOfTheReadingTable)
{
    window->SaveTimerTimer();
    // Nobody answered yet: both sensors hold their first value.
    const QRegularExpression line(
        QStringLiteral("^[0-9.:/]+;\\d{2}:\\d{2}:\\d{2};(0;0,00;0,00;){2}\r\n$"));
    EXPECT_TRUE(line.match(QString::fromUtf8(ReadFile(log))).hasMatch()) << ReadFile(log).data();
    EXPECT_EQ(window->PanelText(2), QString());
}

TEST_F(Logging, EachGuardStopsTheTickBeforeTheFileIsTouched)
{
    struct Guard {
        const char *name;
        std::function<void(TFMain &)> open;
    };
    const Guard guards[] = {
        {"logging off", [](TFMain &w) { w.Form().SaveData->setChecked(false); }},
        {"polling off", [](TFMain &w) { w.Form().UpdateData->setChecked(false); }},
        {"link down", [](TFMain &w) { w.ConnectButtonClick(); }},
    };
    for (const Guard &g : guards) {
        SCOPED_TRACE(g.name);
        SetUp();
        g.open(*window);
        window->SaveTimerTimer();
        EXPECT_FALSE(QFile::exists(log));
    }
}

TEST_F(Logging, ClosingWhileLoggingSavesTheControlsAndKeepsTheLastLine)
{
    window->SaveTimerTimer();
    window->SaveTimerTimer();
    window->Form().Coeff->setText(QStringLiteral("0,1"));
    window->Form().SensorCnt->setCurrentIndex(-1);
    window->Form().save_time->setChecked(false);
    window->show();
    window->close();
    EXPECT_FALSE(window->isVisible());
    // The thirteen keys rewritten in place, in their order; the rest kept.
    EXPECT_EQ(ReadFile(config), QByteArray("; kept\n[Options]\nAutoSave=1\nUpdate=1\n"
                                           "AutoConnect=1\nSensorCount=-1\nUnknown=7\n"
                                           "SaveFile=" +
                                           log.toUtf8() +
                                           "\nSaveDate=1\nSaveTime=0\nSaveRaw=1\nSavePercent=1\n"
                                           "SaveCoeff=1\nSaveFreq=0\nChartType=0\n"
                                           "Coeff=0,100000001490116\n[Adapters]\nPort1=/dev/x\n"));
    // Closing writes no line of its own.
    EXPECT_EQ(ReadFile(log).count("\r\n"), 2);
}

// --- Choosing the log file -------------------------------------------------------------------

// Runs `action`; the next modal widget it shows is handed to `answer`.
void AnswerNextModal(const std::function<void(QWidget *)> &answer,
                     const std::function<void()> &action)
{
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            answer(modal);
    });
    action();
}

TEST_F(Logging, TheFileCannotBeChangedWhileLogging)
{
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    AnswerNextModal(
        [&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            ASSERT_NE(box, nullptr);
            text = box->text();
            caption = box->windowTitle();
            icon = box->icon();
            box->accept();
        },
        [&] { window->SpeedButton5Click(); });
    EXPECT_EQ(text, QStringLiteral("Plik jest aktualnie uzywany"));
    EXPECT_EQ(caption, QStringLiteral("Zapis do pliku"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(window->Form().FileName->text(), log);
}

TEST_F(Logging, AChosenFileIsCreatedEmptyAndAnExistingOneKept)
{
    window->Form().SaveData->setChecked(false);
    const QString existing = dir.filePath("old.csv");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old;\r\n");
    }
    const QString fresh = dir.filePath("new.csv");
    for (const QString &path : {fresh, existing}) {
        AnswerNextModal(
            [&](QWidget *modal) {
                ASSERT_EQ(modal, window->SaveDialog());
                // Typed as the operator would: the dialog's name edit has the focus.
                auto *name = window->SaveDialog()->findChild<QLineEdit *>("fileNameEdit");
                ASSERT_NE(name, nullptr);
                name->setText(path);
                static_cast<QDialog *>(window->SaveDialog())->accept();
            },
            [&] { window->SpeedButton5Click(); });
        EXPECT_EQ(window->Form().FileName->text(), QDir::toNativeSeparators(path));
    }
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_EQ(ReadFile(fresh), QByteArray());
    EXPECT_EQ(ReadFile(existing), QByteArray("old;\r\n"));

    // A cancelled dialog changes nothing.
    AnswerNextModal([&](QWidget *) { static_cast<QDialog *>(window->SaveDialog())->reject(); },
                    [&] { window->SpeedButton5Click(); });
    EXPECT_EQ(window->Form().FileName->text(), QDir::toNativeSeparators(existing));
}

// A name that config.ini cannot hold on one line is refused; nothing changes.
TEST_F(Logging, ANameWithAControlCharacterIsRefused)
{
    window->Form().SaveData->setChecked(false);
    for (const char *name : {"a\tb.csv", "esc\x1b.csv", "del\x7f.csv", "bell\x07.csv"}) {
        SCOPED_TRACE(QByteArray(name).toPercentEncoding().toStdString());
        const QString path = dir.filePath(QString::fromLatin1(name));
        QString text, caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        AnswerNextModal(
            [&](QWidget *) {
                auto *nameEdit = window->SaveDialog()->findChild<QLineEdit *>("fileNameEdit");
                ASSERT_NE(nameEdit, nullptr);
                nameEdit->setText(path);
                // The refusal's box comes once the dialog has closed.
                QTimer::singleShot(0, [&] {
                    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                    ASSERT_NE(box, nullptr);
                    text = box->text();
                    caption = box->windowTitle();
                    icon = box->icon();
                    box->accept();
                });
                static_cast<QDialog *>(window->SaveDialog())->accept();
            },
            [&] { window->SpeedButton5Click(); });
        EXPECT_EQ(caption, QStringLiteral("QVR 1 - PC"));
        EXPECT_EQ(icon, QMessageBox::Critical);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_EQ(window->Form().FileName->text(), log);
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

} // namespace
