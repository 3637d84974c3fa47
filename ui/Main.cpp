#include "Main.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <qcustomplot.h>

// The pictures live in a resource of this static library, which the linker
// would drop unless it is registered explicitly.
static void InitIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace {

// Loads a 16 x 16 picture whose magenta pixels are transparent.
QIcon MagentaKeyedIcon(const QString &path)
{
    QPixmap picture(path);
    picture.setMask(picture.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
    return QIcon(picture);
}

// The grid draws each cell itself, then hands it to the window's cell
// handler. Row 0 is the fixed header row, drawn in the button face colour.
class TGridDelegate : public QStyledItemDelegate {
public:
    explicit TGridDelegate(TFMain &window) : QStyledItemDelegate(&window), window_(window) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const bool fixed = index.row() == 0;
        const bool selected = !fixed && (option.state & QStyle::State_Selected);
        const QPalette &pal = option.palette;
        painter->save();
        painter->setFont(option.font);
        painter->setBrush(fixed ? pal.button() : selected ? pal.highlight() : pal.base());
        painter->setPen(Qt::NoPen);
        painter->fillRect(option.rect, painter->brush());
        painter->setPen(fixed      ? pal.buttonText().color()
                        : selected ? pal.highlightedText().color()
                                   : pal.text().color());
        painter->drawText(option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                          index.data().toString());
        window_.SensorValueDrawCell(*painter, index.column(), index.row(), option.rect, selected);
        painter->restore();
    }

private:
    TFMain &window_;
};

} // namespace

TFMain::TFMain(qvr::ID2xx &library, QString configPath, QWidget *parent)
    : QMainWindow(parent), library_(library), ConfigPath(std::move(configPath))
{
    InitIconResources();
    setupUi(this);
    SetUpComponents();
    SetUpChart();
    WireEvents();
}

TFMain::~TFMain() = default;

void TFMain::SetUpComponents()
{
    setFixedSize(704, 579);

    // The three panels stand at their designed places, side by side from the
    // left edge; the status bar's own layout would indent them. The first two
    // keep their widths; the last reaches the bar's right edge, so that a
    // write confirmation shows in full.
    StatusBar->setFixedHeight(19);
    StatusBar->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        panels_[i] = new QLabel(StatusBar);
        panels_[i]->setObjectName(QStringLiteral("StatusBarPanel%1").arg(i));
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
    }
    StatusBar->installEventFilter(this);
    PlaceStatusPanels();

    UartLog->setMaximumBlockCount(kUartLogMaxLines);
    UartLog->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const QIcon apply = MagentaKeyedIcon(QStringLiteral(":/icons/apply.xpm"));
    for (QToolButton *b : {SpeedButton1, SpeedButton2, SpeedButton3, SpeedButton4})
        b->setIcon(apply);
    SpeedButton5->setIcon(MagentaKeyedIcon(QStringLiteral(":/icons/floppy.xpm")));
    ConnectButton->setIcon(MagentaKeyedIcon(QStringLiteral(":/icons/connect.xpm")));

    SensorValue->setColumnWidth(0, 102);
    SensorValue->setColumnWidth(1, 338);
    SensorValue->setItemDelegate(new TGridDelegate(*this));
    SensorValue->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    SensorValue->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    TCGauge *const gauges[] = {Gauge1,  Gauge2,  Gauge3,  Gauge4,  Gauge5,  Gauge6,
                               Gauge7,  Gauge8,  Gauge9,  Gauge10, Gauge11, Gauge12,
                               Gauge13, Gauge14, Gauge15, Gauge16};
    std::copy(std::begin(gauges), std::end(gauges), gauges_.begin());

    UsbTimer = new QTimer(this);
    UsbTimer->setObjectName(QStringLiteral("UsbTimer"));
    UsbTimer->setInterval(20);
    TimeoutTimer = new QTimer(this);
    TimeoutTimer->setObjectName(QStringLiteral("TimeoutTimer"));
    TimeoutTimer->setInterval(200);
    SaveTimer = new QTimer(this);
    SaveTimer->setObjectName(QStringLiteral("SaveTimer"));
    SaveTimer->setInterval(100);
    // Ticks are delivered by the event loop, so none can come before the
    // window has been created and shown.
    UsbTimer->start();
    SaveTimer->start();

    SaveDialog = new QFileDialog(this, QStringLiteral("Plik z pomiarami"));
    SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setNameFilters({QStringLiteral("Plik tekstowy (*.txt)"),
                                QStringLiteral("Plik danych zordzielony średnikami (*.csv)")});
    SaveDialog->selectNameFilter(SaveDialog->nameFilters().first());
    SaveDialog->setDefaultSuffix(QStringLiteral("csv"));
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, true);
}

void TFMain::SetUpChart()
{
    static constexpr QRgb kColours[qvr::kSensorCount] = {
        0xFF0000, 0x008000, 0xFF8000, 0x400080, 0x400000, 0x808000, 0xFF0080, 0x00FF00,
        0x004000, 0x0080FF, 0x400080, 0x408080, 0x00FFFF, 0x8080C0, 0xFFFF00, 0x0000FF};

    Chart1->setNotAntialiasedElements(QCP::aeAll);
    // The series on a layer with a buffer of its own, so that a new point
    // redraws them alone (FollowNewestPoints); everything below and above it
    // keeps its own buffers.
    Chart1->layer(QStringLiteral("main"))->setMode(QCPLayer::lmBuffered);
    // Nothing is drawn on the overlay: sharing the buffer of the layers below
    // it spares a full-size blend of the chart on every paint.
    Chart1->layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    Chart1->setBackground(palette().window());
    Chart1->axisRect()->setBackground(Qt::white);
    Chart1->yAxis->setRange(-356.6960446693754, 835.4021244430467);
    Chart1->xAxis->setRange(0, 1);
    // The chart overhangs the page by 12 pixels on the left and 8 at the top;
    // keep the axis labels inside the visible part.
    Chart1->plotLayout()->setMargins(QMargins(12, 8, 4, 0));

    // Legend below the plot, without frame or background.
    QCPLayoutGrid *below = new QCPLayoutGrid;
    Chart1->plotLayout()->addElement(1, 0, below);
    Chart1->plotLayout()->setRowStretchFactor(1, 0.001);
    below->setMargins(QMargins(0, 0, 0, 4));
    below->addElement(0, 0, Chart1->legend);
    Chart1->legend->setVisible(true);
    Chart1->legend->setBrush(Qt::NoBrush);
    Chart1->legend->setBorderPen(Qt::NoPen);
    Chart1->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    Chart1->legend->setWrap(4);
    Chart1->legend->setRowSpacing(0);
    Chart1->legend->setColumnSpacing(4);
    // Short line samples, so that four titles fit side by side.
    Chart1->legend->setIconSize(QSize(14, 8));
    Chart1->legend->setIconTextPadding(3);

    QCPGraph **named[] = {&Series1,  &Series2,  &Series3,  &Series4,  &Series5,  &Series6,
                          &Series7,  &Series8,  &Series9,  &Series10, &Series11, &Series12,
                          &Series13, &Series14, &Series15, &Series16};
    for (int i = 0; i < qvr::kSensorCount; ++i) {
        QCPGraph *g = Chart1->addGraph();
        g->setName(QStringLiteral("Czujnik [ID %1]").arg(qvr::kFirstAddress + i));
        g->setPen(QPen(QColor::fromRgb(kColours[i]), 1));
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
        g->setAntialiased(false);
        series_[i] = g;
        *named[i] = g;
        SetSeriesActive(i, i == 0);
    }
}

void TFMain::WireEvents()
{
    UartLog->viewport()->installEventFilter(this);
    Chart1->installEventFilter(this);
    UsbBox->installEventFilter(this);
    OnOffEdit->installEventFilter(this);
    OnMinEdit->installEventFilter(this);
    OnMaxEdit->installEventFilter(this);

    connect(ConnectButton, &QPushButton::clicked, this, &TFMain::ConnectButtonClick);
    connect(UsbBox, &QListWidget::itemClicked, this, &TFMain::UsbBoxClick);
    // Runs on a click and also when code changes the state.
    connect(UpdateData, &QCheckBox::toggled, this, &TFMain::UpdateDataClick);
    // The operator's choice only: setting the index from code runs nothing.
    connect(ChartType, &QComboBox::activated, this, &TFMain::ChartTypeChange);
    connect(SensorCnt, &QComboBox::activated, this, &TFMain::SensorCntChange);
    connect(SpeedButton1, &QToolButton::clicked, this, &TFMain::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TFMain::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TFMain::SpeedButton3Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &TFMain::SpeedButton4Click);
    connect(SpeedButton5, &QToolButton::clicked, this, &TFMain::SpeedButton5Click);
    connect(UsbTimer, &QTimer::timeout, this, &TFMain::UsbTimerTimer);
    connect(TimeoutTimer, &QTimer::timeout, this, &TFMain::TimeoutTimerTimer);
    connect(SaveTimer, &QTimer::timeout, this, &TFMain::SaveTimerTimer);
}

void TFMain::PlaceStatusPanels()
{
    static constexpr int kFixedWidths[] = {300, 140};
    int x = 0;
    for (int i = 0; i < 2; ++i) {
        panels_[i]->setGeometry(x, 1, kFixedWidths[i], 18);
        x += kFixedWidths[i];
    }
    panels_[2]->setGeometry(x, 1, std::max(0, StatusBar->width() - x), 18);
}

bool TFMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StatusBar && event->type() == QEvent::Resize)
        PlaceStatusPanels();
    if (watched == UsbBox && event->type() == QEvent::KeyPress)
        return UsbBoxKeyPress(event);
    // The line chart is redrawn only while it is seen: it catches up with
    // the points that came while it was hidden before its first paint.
    if (watched == Chart1 && event->type() == QEvent::Show)
        Chart1->replot();
    // Only the left button clicks, as on every other control.
    const bool leftButton = (event->type() == QEvent::MouseButtonDblClick ||
                             event->type() == QEvent::MouseButtonPress) &&
                            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
    if (!leftButton)
        return QMainWindow::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonDblClick && watched == UartLog->viewport()) {
        UartLogDblClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == OnOffEdit)
            OnOffEditClick();
        else if (watched == OnMinEdit)
            OnMinEditClick();
        else if (watched == OnMaxEdit)
            OnMaxEditClick();
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFMain::UsbBoxKeyPress(QEvent *event)
{
    // The list handles the key itself first; a key that moved the current
    // line is the operator's selection of that line.
    QListWidgetItem *before = UsbBox->currentItem();
    static_cast<QObject *>(UsbBox)->event(event);
    QListWidgetItem *after = UsbBox->currentItem();
    if (after && after != before)
        UsbBoxClick(after);
    return true;
}

void TFMain::closeEvent(QCloseEvent *event)
{
    // Accepted first: a save that fails is shown, and the window closes all
    // the same.
    event->accept();
    FormClose();
}

QString TFMain::PanelText(int panel) const
{
    return panels_[panel]->text();
}

void TFMain::SetPanelText(int panel, const QString &text)
{
    panels_[panel]->setText(text);
}

void TFMain::SetConnectCaption(const QString &caption)
{
    ConnectButton->setText(caption);
}

void TFMain::EnableTimer(QTimer *timer)
{
    if (!timer->isActive())
        timer->start();
}

void TFMain::SetSeriesActive(int index, bool active)
{
    series_[index]->setVisible(active);
    // The legend lists the active series in sensor order.
    Chart1->legend->clearItems();
    for (QCPGraph *g : series_)
        if (g && g->visible())
            g->addToLegend();
    // The legend's layer changed: a shown chart is drawn whole.
    if (Chart1->isVisible())
        Chart1->replot(QCustomPlot::rpQueuedReplot);
}

bool TFMain::SeriesActive(int index) const
{
    return series_[index]->visible();
}
