// The main window as designed: every named component with its kind, place,
// texts, items and initial state, the timers, the save dialog and the chart.
#include "link/fake_library.h"
#include "measure/parameters.h"
#include "ui/Main.h"
#include "ui/texts.h"
#include "ui/fonts.h"
#include "ui/window_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <qcustomplot.h>

namespace {

struct Component {
    const char *name;
    const char *kind;
    QRect geometry; // width/height 0: only the position is fixed (auto-sized labels)
    const char *text;
};

// clang-format off
const Component kComponents[] = {
    {"GroupBox1",      "QGroupBox",      {471, 8, 233, 545},  ""},
    {"PageControl1",   "QTabWidget",     {8, 8, 457, 545},    nullptr},
    {"Label6",         "QLabel",         {16, 19, 0, 0},      "Podgląd danych"},
    {"UartLog",        "QPlainTextEdit", {16, 38, 202, 348},  nullptr},
    {"UsbBox",         "QListWidget",    {16, 392, 201, 59},  nullptr},
    {"ConnectButton",  "QPushButton",    {16, 459, 203, 25},  "Połącz"},
    {"SaveData",       "QCheckBox",      {16, 490, 126, 17},  "Zapisuj dane do pliku"},
    {"UpdateData",     "QCheckBox",      {16, 513, 169, 17},  "Aktualizuj pomiary z czujników"},
    {"SensorValue",    "QTableWidget",   {3, 3, 446, 508},    nullptr},
    {"Chart1",         "QCustomPlot",    {-12, -8, 465, 492}, nullptr},
    {"Chart2",         "QGroupBox",      {3, 0, 443, 480},    ""},
    {"Label11",        "QLabel",         {3, 490, 0, 0},      "Typ wykresu"},
    {"ChartType",      "QComboBox",      {88, 490, 145, 21},  nullptr},
    {"GroupBox3",      "QGroupBox",      {0, 3, 446, 316},    "Konfiguracja programu"},
    {"GroupBox2",      "QGroupBox",      {0, 325, 446, 186},  "Konfiguracja czujnika"},
    {"Label8",         "QLabel",         {36, 24, 0, 0},      "Liczba aktywnych czujników"},
    {"SensorCnt",      "QComboBox",      {198, 21, 129, 21},  nullptr},
    {"auto_connect",   "QCheckBox",      {36, 48, 193, 17},   "Automatycznie połącz przy starcie"},
    {"AutoSaveData",   "QCheckBox",      {36, 71, 193, 17},   "Automatycznie zapisz dane do pliku"},
    {"AutoUpdateData", "QCheckBox",      {36, 94, 193, 17},   "Automatycznie aktualizuj pomiary"},
    {"save_data",      "QCheckBox",      {36, 117, 154, 17},  "Zapisz datę do pliku"},
    {"save_time",      "QCheckBox",      {36, 140, 154, 17},  "Zapisz godzinę do pliku"},
    {"save_raw",       "QCheckBox",      {36, 163, 154, 17},  "Zapisz \"czyste dane\" [RAW]"},
    {"save_percent",   "QCheckBox",      {36, 186, 281, 17},  "Zapisz dane w procentach zakresu pomiarowego [%]"},
    {"save_coeff",     "QCheckBox",      {36, 209, 281, 17},  "Zapisz dane [wartość * Coeff]"},
    {"Label9",         "QLabel",         {37, 238, 0, 0},     "Częstotliwość zapisu danych"},
    {"SaveFreq",       "QComboBox",      {195, 235, 129, 21}, nullptr},
    {"Label10",        "QLabel",         {36, 265, 0, 0},     "Ścieżka do pliku z pomiarami"},
    {"FileName",       "QLineEdit",      {195, 262, 202, 21}, ""},
    {"SpeedButton5",   "QToolButton",    {403, 262, 23, 22},  ""},
    {"Label12",        "QLabel",         {36, 292, 0, 0},     "Mnożnik (Coeff) [\",\"]"},
    {"Coeff",          "QLineEdit",      {195, 289, 202, 21}, ""},
    {"Label1",         "QLabel",         {56, 25, 0, 0},      "Adres konfigurowanego czujnika"},
    {"SensAdr",        "QComboBox",      {217, 25, 208, 21},  nullptr},
    {"Label3",         "QLabel",         {56, 57, 0, 0},      "Parametr [OC_ON_OFF]"},
    {"OnOffEdit",      "QLineEdit",      {199, 57, 121, 21},  ""},
    {"SpeedButton1",   "QToolButton",    {326, 55, 99, 22},   "Aktualizuj"},
    {"Label4",         "QLabel",         {56, 84, 0, 0},      "Parametr [OC_ON_MIN]"},
    {"OnMinEdit",      "QLineEdit",      {199, 84, 121, 21},  ""},
    {"SpeedButton2",   "QToolButton",    {326, 83, 99, 22},   "Aktualizuj"},
    {"Label5",         "QLabel",         {56, 111, 0, 0},     "Parametr [OC_ON_MAX]"},
    {"OnMaxEdit",      "QLineEdit",      {199, 111, 121, 21}, ""},
    {"SpeedButton4",   "QToolButton",    {326, 111, 99, 22},  "Aktualizuj"},
    {"Label2",         "QLabel",         {56, 138, 0, 0},     "Tryb pracy [OC_MODE]"},
    {"ModeBox",        "QComboBox",      {199, 138, 121, 21}, nullptr},
    {"SpeedButton3",   "QToolButton",    {326, 138, 99, 22},  "Aktualizuj"},
    {"Label7",         "QLabel",         {24, 166, 0, 0},     "UWAGA!!! Przy konfiguracji czujnika zaleca się wyłączenie aktualizacji pomiarów."},
};
// clang-format on

QString TextOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    return QString();
}

QStringList ItemsOf(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

class FormTest : public ::testing::Test {
protected:
    qvr::test::FakeLibrary library;
    TFMain window{library, qvr::test::SettingsFile()};
};

TEST_F(FormTest, EveryComponentHasItsKindPlaceAndText)
{
    for (const Component &c : kComponents) {
        SCOPED_TRACE(c.name);
        auto *w = window.findChild<QWidget *>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
        EXPECT_EQ(w->pos(), c.geometry.topLeft());
        if (c.geometry.width() > 0) {
            EXPECT_EQ(w->size(), c.geometry.size());
        }
        if (c.text) {
            EXPECT_EQ(TextOf(w), QString::fromUtf8(c.text));
        }
    }
}

TEST_F(FormTest, WindowIsFixedAtItsDesignedSize)
{
    EXPECT_EQ(window.minimumSize(), QSize(704, 579));
    EXPECT_EQ(window.maximumSize(), QSize(704, 579));
    EXPECT_EQ(window.Form().StatusBar->height(), 19);
    window.show();
    window.resize(900, 700);
    EXPECT_EQ(window.size(), QSize(704, 579));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("FMain"));
}

TEST_F(FormTest, DropDownListsHoldTheirItemsAndAcceptNoTyping)
{
    QStringList sensorCnt{QStringLiteral("  1 czujnik [ID  50]"),
                          QStringLiteral("  2 czujniki [ID 50:51] ")};
    for (int n = 3; n <= 16; ++n)
        sensorCnt << QStringLiteral("%1 czujniki [ID 50:%2]")
                         .arg(n < 10 ? QStringLiteral("  %1").arg(n) : QString::number(n))
                         .arg(49 + n);
    QStringList sensAdr{QStringLiteral("Czujnik [ID 50]"), QStringLiteral("Czujnik [ID 51] ")};
    for (int a = 52; a <= 65; ++a)
        sensAdr << QStringLiteral("Czujnik [ID %1]").arg(a);
    QStringList saveFreq;
    for (int ms = 20; ms <= 320; ms += 20)
        saveFreq << QStringLiteral("%1 [ms]").arg(ms);

    EXPECT_EQ(ItemsOf(window.Form().SensorCnt), sensorCnt);
    EXPECT_EQ(window.Form().SensorCnt->itemText(11), QStringLiteral("12 czujniki [ID 50:61]"));
    EXPECT_EQ(ItemsOf(window.Form().SensAdr), sensAdr);
    EXPECT_EQ(window.Form().SensAdr->itemText(11), QStringLiteral("Czujnik [ID 61]"));
    EXPECT_EQ(ItemsOf(window.Form().SaveFreq), saveFreq);
    EXPECT_EQ(ItemsOf(window.Form().ModeBox),
              (QStringList{QStringLiteral("Tryb 0"), QStringLiteral("Tryb 1"),
                           QStringLiteral("Tryb 2"), QString()}));
    EXPECT_EQ(ItemsOf(window.Form().ChartType),
              (QStringList{QStringLiteral("Liniowy"), QStringLiteral("Słupkowy")}));
    for (QComboBox *box :
         {window.Form().SensorCnt, window.Form().SensAdr, window.Form().SaveFreq, window.Form().ModeBox, window.Form().ChartType}) {
        EXPECT_EQ(box->currentIndex(), 0) << box->objectName().toStdString();
        EXPECT_FALSE(box->isEditable()) << box->objectName().toStdString();
    }
}

TEST_F(FormTest, InitialStatesBeforeAnyHandlerRuns)
{
    for (QCheckBox *box : window.findChildren<QCheckBox *>())
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    EXPECT_EQ(window.Form().PageControl1->currentWidget(), window.Form().TabSheet1);
    EXPECT_EQ(window.Form().PageControl1->count(), 3);
    EXPECT_EQ(window.Form().PageControl1->tabText(0), QStringLiteral("Wskaźniki"));
    EXPECT_EQ(window.Form().PageControl1->tabText(1), QStringLiteral("Wykresy"));
    EXPECT_EQ(window.Form().PageControl1->tabText(2), QStringLiteral("Konfiguracja"));
    for (int panel = 0; panel < 3; ++panel)
        EXPECT_TRUE(window.PanelText(panel).isEmpty());
    EXPECT_EQ(window.Form().UsbBox->count(), 0);
    EXPECT_TRUE(window.Form().UartLog->document()->isEmpty());
    // "Liniowy" is selected, so the line chart stands and the gauges are hidden.
    EXPECT_FALSE(window.Form().Chart1->isHidden());
    EXPECT_TRUE(window.Form().Chart2->isHidden());
}

TEST_F(FormTest, StatusBarPanelsAtTheirPlacesTheLastToTheRightEdge)
{
    window.show();
    QApplication::processEvents();
    const int lefts[] = {0, 300, 440};
    const int rights[] = {
        300, 440, window.Form().StatusBar->mapTo(&window, QPoint(0, 0)).x() + window.Form().StatusBar->width()};
    EXPECT_EQ(rights[2], window.width());
    for (int i = 0; i < 3; ++i) {
        auto *panel =
            window.Form().StatusBar->findChild<QLabel *>(QStringLiteral("StatusBarPanel%1").arg(i));
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->mapTo(&window, QPoint(0, 0)).x(), lefts[i]);
        EXPECT_EQ(panel->width(), rights[i] - lefts[i]);
        EXPECT_TRUE(panel->isVisible());
    }
}

// Every text of the message panel shows in full in the window's own font.
TEST(StatusBarTexts, MessagePanelHoldsEveryTextInFull)
{
    const QFont before = QApplication::font();
    qvr::RegisterWindowFonts();
    QApplication::setFont(QFont(QStringLiteral("Tahoma"), 8));
    {
        qvr::test::FakeLibrary library;
        TFMain window(library, qvr::test::SettingsFile());
        window.show();
        QApplication::processEvents();
        auto *panel = window.Form().StatusBar->findChild<QLabel *>(QStringLiteral("StatusBarPanel2"));
        ASSERT_NE(panel, nullptr);
        QStringList texts = {QStringLiteral("Błąd zapisu do pliku")};
        for (const std::uint8_t reg :
             {qvr::kRegisterOnOff, qvr::kRegisterOnMin, qvr::kRegisterOnMax, qvr::kRegisterMode})
            texts << qvr::text::WriteConfirmation(reg).value_or(QString());
        const int room = panel->contentsRect().width() - 2 * panel->margin();
        for (const QString &text : texts) {
            SCOPED_TRACE(text.toStdString());
            EXPECT_FALSE(text.isEmpty());
            EXPECT_LE(panel->fontMetrics().horizontalAdvance(text), room);
        }
    }
    QApplication::setFont(before);
}

TEST_F(FormTest, EditsThatTheOperatorCannotTypeInto)
{
    EXPECT_TRUE(window.Form().UartLog->isReadOnly());
    EXPECT_TRUE(window.Form().FileName->isReadOnly());
    for (QLineEdit *e : {window.Form().Coeff, window.Form().OnOffEdit, window.Form().OnMinEdit, window.Form().OnMaxEdit})
        EXPECT_FALSE(e->isReadOnly());

    window.show();
    QTest::keyClicks(window.Form().FileName, QStringLiteral("abc"));
    EXPECT_TRUE(window.Form().FileName->text().isEmpty());
    QTest::keyClicks(window.Form().Coeff, QStringLiteral("0,5"));
    EXPECT_EQ(window.Form().Coeff->text(), QStringLiteral("0,5"));
}

TEST_F(FormTest, TrafficLogIsBoundedWithoutUndo)
{
    EXPECT_GE(window.Form().UartLog->maximumBlockCount(), 20000);
    EXPECT_FALSE(window.Form().UartLog->isUndoRedoEnabled());
    EXPECT_EQ(window.Form().UartLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(window.Form().UartLog->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

TEST_F(FormTest, GridShape)
{
    QTableWidget *grid = window.Form().SensorValue;
    EXPECT_EQ(grid->columnCount(), 2);
    EXPECT_EQ(grid->rowCount(), 17);
    EXPECT_EQ(grid->columnWidth(0), 102);
    EXPECT_EQ(grid->columnWidth(1), 338);
    EXPECT_EQ(grid->rowHeight(16), 28);
    EXPECT_EQ(grid->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(grid->font().pointSize(), 10);
    EXPECT_EQ(grid->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(grid->showGrid());
}

TEST_F(FormTest, TimersWithTheirIntervalsAndStates)
{
    EXPECT_EQ(window.UsbTimer()->interval(), 20);
    EXPECT_TRUE(window.UsbTimer()->isActive());
    EXPECT_EQ(window.TimeoutTimer()->interval(), 200);
    EXPECT_FALSE(window.TimeoutTimer()->isActive());
    EXPECT_EQ(window.SaveTimer()->interval(), 100);
    EXPECT_TRUE(window.SaveTimer()->isActive());
}

TEST_F(FormTest, EnablingARunningTimerDoesNotRestartIt)
{
    window.TimeoutTimer()->start();
    // No event loop runs while sleeping, so the timer cannot fire meanwhile.
    QThread::msleep(120);
    const int left = window.TimeoutTimer()->remainingTime();
    TFMain::EnableTimer(window.TimeoutTimer());
    EXPECT_LE(window.TimeoutTimer()->remainingTime(), left);
    EXPECT_LT(window.TimeoutTimer()->remainingTime(), 150);
}

TEST_F(FormTest, SaveDialog)
{
    QFileDialog *d = window.SaveDialog();
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Plik z pomiarami"));
    EXPECT_EQ(d->nameFilters(),
              (QStringList{QStringLiteral("Plik tekstowy (*.txt)"),
                           QStringLiteral("Plik danych zordzielony średnikami (*.csv)")}));
    EXPECT_EQ(d->selectedNameFilter(), QStringLiteral("Plik tekstowy (*.txt)"));
    EXPECT_EQ(d->defaultSuffix(), QStringLiteral("csv"));
    EXPECT_TRUE(d->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
}

TEST_F(FormTest, ChartSeriesTitlesColoursAndAxes)
{
    const QRgb colours[] = {0xFF0000, 0x008000, 0xFF8000, 0x400080, 0x400000, 0x808000,
                            0xFF0080, 0x00FF00, 0x004000, 0x0080FF, 0x400080, 0x408080,
                            0x00FFFF, 0x8080C0, 0xFFFF00, 0x0000FF};
    QCustomPlot *chart = window.Form().Chart1;
    ASSERT_EQ(chart->graphCount(), 16);
    EXPECT_EQ(window.Series(0), window.Series(0));
    EXPECT_EQ(window.Series(15), window.Series(15));
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        QCPGraph *g = window.Series(i);
        EXPECT_EQ(g->name(), QStringLiteral("Czujnik [ID %1]").arg(50 + i));
        EXPECT_EQ(g->pen().color().rgb() & 0xFFFFFF, colours[i]);
        EXPECT_EQ(g->scatterStyle().shape(), QCPScatterStyle::ssNone);
        EXPECT_FALSE(g->antialiased());
        EXPECT_EQ(window.SeriesActive(i), i == 0);
        EXPECT_EQ(chart->legend->hasItemWithPlottable(g), i == 0);
    }
    EXPECT_DOUBLE_EQ(chart->yAxis->range().lower, -356.6960446693754);
    EXPECT_DOUBLE_EQ(chart->yAxis->range().upper, 835.4021244430467);
    EXPECT_EQ(chart->legend->borderPen().style(), Qt::NoPen);
    EXPECT_EQ(chart->legend->brush().style(), Qt::NoBrush);
}

TEST_F(FormTest, ActivatingSeriesKeepsTheLegendInSensorOrder)
{
    window.SetSeriesActive(4, true);
    window.SetSeriesActive(2, true);
    ASSERT_EQ(window.Form().Chart1->legend->itemCount(), 3);
    auto nameAt = [&](int i) {
        return static_cast<QCPPlottableLegendItem *>(window.Form().Chart1->legend->item(i))
            ->plottable()
            ->name();
    };
    EXPECT_EQ(nameAt(0), QStringLiteral("Czujnik [ID 50]"));
    EXPECT_EQ(nameAt(1), QStringLiteral("Czujnik [ID 52]"));
    EXPECT_EQ(nameAt(2), QStringLiteral("Czujnik [ID 54]"));
}

TEST_F(FormTest, GaugesStandSideBySide)
{
    const int lefts[] = {16,  41,  67,  93,  119, 144, 170, 196,
                         222, 247, 273, 299, 325, 350, 376, 402};
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        TCGauge *g = window.Gauge(i);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->objectName(), QStringLiteral("Gauge%1").arg(i + 1));
        EXPECT_EQ(g->parentWidget(), window.Form().Chart2);
        EXPECT_EQ(g->geometry(), QRect(lefts[i], 20, 20, 440));
        EXPECT_EQ(g->Kind(), TCGauge::gkVerticalBar);
        EXPECT_EQ(g->property("FontOrientation").toInt(), 900);
        EXPECT_EQ(g->MinValue(), 0);
        EXPECT_EQ(g->MaxValue(), 100);
        EXPECT_EQ(g->Progress(), 0);
        EXPECT_TRUE(g->ShowText());
    }
}

TEST_F(FormTest, TabOrderFollowsTheDesign)
{
    const std::vector<QWidget *> chain = {
        window.Form().UartLog,   window.Form().ConnectButton, window.Form().UpdateData,   window.Form().SaveData,
        window.Form().UsbBox,    window.Form().PageControl1,  window.Form().SensorValue,  window.Form().ChartType,
        window.Form().SensAdr,   window.Form().OnOffEdit,     window.Form().OnMinEdit,    window.Form().OnMaxEdit,
        window.Form().ModeBox,   window.Form().auto_connect,  window.Form().AutoSaveData, window.Form().AutoUpdateData,
        window.Form().save_data, window.Form().save_percent,  window.Form().save_raw,     window.Form().save_time,
        window.Form().SaveFreq,  window.Form().SensorCnt,     window.Form().FileName,     window.Form().Coeff,
        window.Form().save_coeff};
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        // The next focusable widget after chain[i] in the focus chain.
        // The tab control takes focus through its tab bar.
        QWidget *tabBar = window.Form().PageControl1->findChild<QTabBar *>();
        auto stop = [&](QWidget *w) { return w == tabBar ? window.Form().PageControl1 : w; };
        QWidget *next = chain[i]->nextInFocusChain();
        while (next != chain[i] && (!(next->focusPolicy() & Qt::TabFocus) ||
                                    stop(next) == chain[i] || tabBar->isAncestorOf(next)))
            next = next->nextInFocusChain();
        next = stop(next);
        EXPECT_EQ(next, chain[i + 1])
            << chain[i]->objectName().toStdString() << " -> " << next->objectName().toStdString();
    }
    for (QToolButton *b : {window.Form().SpeedButton1, window.Form().SpeedButton2, window.Form().SpeedButton3,
                           window.Form().SpeedButton4, window.Form().SpeedButton5})
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();
}

TEST_F(FormTest, PicturesAreSixteenPixelsWithTransparentKey)
{
    for (QAbstractButton *b : std::initializer_list<QAbstractButton *>{
             window.Form().ConnectButton, window.Form().SpeedButton1, window.Form().SpeedButton2, window.Form().SpeedButton3,
             window.Form().SpeedButton4, window.Form().SpeedButton5}) {
        SCOPED_TRACE(b->objectName().toStdString());
        EXPECT_EQ(b->iconSize(), QSize(16, 16));
        const QImage image = b->icon().pixmap(16, 16).toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(image.hasAlphaChannel());
        int magenta = 0, transparent = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QColor c = image.pixelColor(x, y);
                transparent += c.alpha() == 0;
                magenta += c.alpha() != 0 && c.rgb() == qRgb(255, 0, 255);
            }
        EXPECT_EQ(magenta, 0);
        EXPECT_GT(transparent, 0);
    }
}

} // namespace
