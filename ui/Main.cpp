#include "Main.h"

#include "texts.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <qcustomplot.h>

// The pictures live in a resource of this static library, which the linker
// would drop unless it is registered explicitly. Q_INIT_RESOURCE works only
// outside every namespace.
static void InitIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace qvr {

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
        window_.SensorValueDrawCell(*painter, index.column(), index.row(), option.rect);
        painter->restore();
    }

private:
    TFMain &window_;
};

// The pause before a write: the window sleeps, as the bus wants it quiet.
class TSleep : public IPause {
public:
    void Pause(int milliseconds) override
    {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
};

} // namespace

} // namespace qvr

TFMain::TFMain(qvr::ID2xx &library, QString configPath, QWidget *parent)
    : QMainWindow(parent), configPath_(std::move(configPath)),
      pause_(std::make_unique<qvr::TSleep>()), session_(library, *pause_)
{
    InitIconResources();
    form_.setupUi(this);
    settingsForm_ = std::make_unique<qvr::TSettingsForm>(*this);
    SetUpComponents();
    chart_ = std::make_unique<qvr::TLineChart>(*form_.Chart1, palette().window());
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
    form_.StatusBar->setFixedHeight(19);
    form_.StatusBar->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        panels_[i] = new QLabel(form_.StatusBar);
        panels_[i]->setObjectName(QStringLiteral("StatusBarPanel%1").arg(i));
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
    }
    form_.StatusBar->installEventFilter(this);
    PlaceStatusPanels();

    form_.UartLog->setMaximumBlockCount(kUartLogMaxLines);
    form_.UartLog->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const QIcon apply = qvr::MagentaKeyedIcon(QStringLiteral(":/icons/apply.xpm"));
    for (QToolButton *b :
         {form_.SpeedButton1, form_.SpeedButton2, form_.SpeedButton3, form_.SpeedButton4})
        b->setIcon(apply);
    form_.SpeedButton5->setIcon(qvr::MagentaKeyedIcon(QStringLiteral(":/icons/floppy.xpm")));
    form_.ConnectButton->setIcon(qvr::MagentaKeyedIcon(QStringLiteral(":/icons/connect.xpm")));

    form_.SensorValue->setColumnWidth(0, 102);
    form_.SensorValue->setColumnWidth(1, 338);
    form_.SensorValue->setItemDelegate(new qvr::TGridDelegate(*this));
    form_.SensorValue->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    form_.SensorValue->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    gauges_ = {form_.Gauge1,  form_.Gauge2,  form_.Gauge3,  form_.Gauge4,
               form_.Gauge5,  form_.Gauge6,  form_.Gauge7,  form_.Gauge8,
               form_.Gauge9,  form_.Gauge10, form_.Gauge11, form_.Gauge12,
               form_.Gauge13, form_.Gauge14, form_.Gauge15, form_.Gauge16};

    usbTimer_ = new QTimer(this);
    usbTimer_->setObjectName(QStringLiteral("UsbTimer"));
    usbTimer_->setInterval(qvr::kReceiveTickMs);
    timeoutTimer_ = new QTimer(this);
    timeoutTimer_->setObjectName(QStringLiteral("TimeoutTimer"));
    timeoutTimer_->setInterval(qvr::kReplyTimeoutMs);
    saveTimer_ = new QTimer(this);
    saveTimer_->setObjectName(QStringLiteral("SaveTimer"));
    saveTimer_->setInterval(100);
    // Runs only while the link is tried again after a loss ([Reconnect]).
    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setObjectName(QStringLiteral("ReconnectTimer"));
    // Ticks are delivered by the event loop, so none can come before the
    // window has been created and shown.
    usbTimer_->start();
    saveTimer_->start();

    saveDialog_ = new QFileDialog(this, qvr::text::kSaveDialogTitle);
    saveDialog_->setObjectName(QStringLiteral("SaveDialog"));
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    saveDialog_->setNameFilters({qvr::text::kTextFileFilter, qvr::text::kCsvFileFilter});
    saveDialog_->selectNameFilter(saveDialog_->nameFilters().first());
    saveDialog_->setDefaultSuffix(QStringLiteral("csv"));
    saveDialog_->setOption(QFileDialog::DontConfirmOverwrite, true);
}

void TFMain::WireEvents()
{
    form_.UartLog->viewport()->installEventFilter(this);
    form_.Chart1->installEventFilter(this);
    form_.UsbBox->installEventFilter(this);
    form_.OnOffEdit->installEventFilter(this);
    form_.OnMinEdit->installEventFilter(this);
    form_.OnMaxEdit->installEventFilter(this);

    connect(form_.ConnectButton, &QPushButton::clicked, this, &TFMain::ConnectButtonClick);
    connect(form_.UsbBox, &QListWidget::itemClicked, this, &TFMain::UsbBoxClick);
    // Runs on a click and also when code changes the state.
    connect(form_.UpdateData, &QCheckBox::toggled, this, &TFMain::UpdateDataClick);
    // The operator's choice only: setting the index from code runs nothing.
    connect(form_.ChartType, &QComboBox::activated, this, &TFMain::ChartTypeChange);
    connect(form_.SensorCnt, &QComboBox::activated, this, &TFMain::SensorCntChange);
    connect(form_.SpeedButton1, &QToolButton::clicked, this, &TFMain::SpeedButton1Click);
    connect(form_.SpeedButton2, &QToolButton::clicked, this, &TFMain::SpeedButton2Click);
    connect(form_.SpeedButton3, &QToolButton::clicked, this, &TFMain::SpeedButton3Click);
    connect(form_.SpeedButton4, &QToolButton::clicked, this, &TFMain::SpeedButton4Click);
    connect(form_.SpeedButton5, &QToolButton::clicked, this, &TFMain::SpeedButton5Click);
    connect(usbTimer_, &QTimer::timeout, this, &TFMain::UsbTimerTimer);
    connect(timeoutTimer_, &QTimer::timeout, this, &TFMain::TimeoutTimerTimer);
    connect(reconnectTimer_, &QTimer::timeout, this, &TFMain::ReconnectTimerTimer);
    connect(saveTimer_, &QTimer::timeout, this, &TFMain::SaveTimerTimer);
}

void TFMain::PlaceStatusPanels()
{
    static constexpr int kFixedWidths[] = {300, 140};
    int x = 0;
    for (int i = 0; i < 2; ++i) {
        panels_[i]->setGeometry(x, 1, kFixedWidths[i], 18);
        x += kFixedWidths[i];
    }
    panels_[2]->setGeometry(x, 1, std::max(0, form_.StatusBar->width() - x), 18);
}

bool TFMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == form_.StatusBar && event->type() == QEvent::Resize)
        PlaceStatusPanels();
    if (watched == form_.UsbBox && event->type() == QEvent::KeyPress)
        return UsbBoxKeyPress(event);
    // The line chart is redrawn only while it is seen: it catches up with
    // the points that came while it was hidden before its first paint.
    if (watched == form_.Chart1 && event->type() == QEvent::Show)
        form_.Chart1->replot();
    // Only the left button clicks, as on every other control.
    const bool leftButton = (event->type() == QEvent::MouseButtonDblClick ||
                             event->type() == QEvent::MouseButtonPress) &&
                            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
    if (!leftButton)
        return QMainWindow::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonDblClick && watched == form_.UartLog->viewport()) {
        UartLogDblClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        if (watched == form_.OnOffEdit)
            OnOffEditClick();
        else if (watched == form_.OnMinEdit)
            OnMinEditClick();
        else if (watched == form_.OnMaxEdit)
            OnMaxEditClick();
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFMain::UsbBoxKeyPress(QEvent *event)
{
    // The list handles the key itself first; a key that moved the current
    // line is the operator's selection of that line.
    QListWidgetItem *before = form_.UsbBox->currentItem();
    static_cast<QObject *>(form_.UsbBox)->event(event);
    QListWidgetItem *after = form_.UsbBox->currentItem();
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
