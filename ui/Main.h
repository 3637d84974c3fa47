// TFMain: the program's one window. Its components come from Main.ui (plus
// the few that a form cannot hold: timers, chart series, the save dialog).
// Its handlers are thin: they read the controls, call the bus session or a
// library, and show what comes back. They live in files named after their
// subsystem:
//   main_link.cpp        connection, receive tick, polling, what the session reports, traffic log
//   main_parameters.cpp  sensor parameter writes
//   main_display.cpp     grid, chart and gauges
//   main_log.cpp         measurement log file
//   main_startup.cpp     FormCreate, FormClose, the settings file
#pragma once

#include "line_chart.h"
#include "session/session.h"
#include "settings_form.h"
#include "storage/log_line.h"
#include "storage/settings.h"
#include "ui_Main.h"

#include <QMainWindow>
#include <array>
#include <memory>

class QFileDialog;
class QLabel;
class QTimer;

class TFMain : public QMainWindow {
    Q_OBJECT

public:
    // The adapter library is the window's only way to the sensor bus: real
    // serial ports in the program, the simulated bus in the demo and tests.
    // The settings file is read by FormCreate and written by FormClose.
    // The window is built from its form; FormCreate then brings it up.
    TFMain(qvr::ID2xx &library, QString configPath, QWidget *parent = nullptr);
    ~TFMain() override;

    // The form's controls by their names, for tests and tools.
    const Ui::FMain &Form() const { return form_; }
    // Components the form cannot hold.
    QTimer *UsbTimer() const { return usbTimer_; }
    QTimer *TimeoutTimer() const { return timeoutTimer_; }
    QTimer *SaveTimer() const { return saveTimer_; }
    QTimer *ReconnectTimer() const { return reconnectTimer_; }
    QFileDialog *SaveDialog() const { return saveDialog_; }
    // Series, gauge and status-bar panel by index (sensor index 0..15, panel 0..2).
    QCPGraph *Series(int index) const { return chart_->Series(index); }
    TCGauge *Gauge(int index) const { return gauges_[index]; }
    QString PanelText(int panel) const;
    // Whether a series is active: drawn and listed in the legend.
    void SetSeriesActive(int index, bool active) { chart_->SetSeriesActive(index, active); }
    bool SeriesActive(int index) const { return chart_->SeriesActive(index); }

    // The transport, the receiver and the measurement model, for reading.
    const qvr::CFtdi *Link() const { return &session_.Link(); }
    const qvr::TReceiver &Receiver() const { return session_.Receiver(); }
    const qvr::TMeasurementModel &Measurement() const { return session_.Measurement(); }

    // Lines kept in the traffic log; older lines are dropped as new ones come.
    static constexpr int kUartLogMaxLines = 50000;
    // Points each chart series keeps.
    static constexpr int kSeriesMaxPoints = qvr::TLineChart::kSeriesMaxPoints;

    // A request, sent and logged.
    void SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                   std::uint16_t word2, std::uint16_t word3);
    void AppendLogLine(const QString &text, const QColor &colour);
    void PollNextSensor();
    // Grid rows, series and gauges for `count` active sensors; the table reset.
    void SetupSensorDisplay(int count);

    // Handlers.
    void FormCreate();
    void FormClose();
    void UartLogDblClick();
    void ConnectButtonClick();
    void UsbBoxClick(QListWidgetItem *item);
    void UpdateDataClick();
    void SensorValueDrawCell(QPainter &canvas, int column, int row, const QRect &rect);
    void ChartTypeChange();
    void SensorCntChange();
    void OnOffEditClick();
    void OnMinEditClick();
    void OnMaxEditClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void UsbTimerTimer();
    void TimeoutTimerTimer();
    void SaveTimerTimer();
    void ReconnectTimerTimer();

    // Starts a timer unless it is already running: enabling a running timer
    // must not restart its interval.
    static void EnableTimer(QTimer *timer);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the session reports, shown as it happens.
    void Show(const qvr::TSessionEvent &event);
    void ShowLinkChange(qvr::TLinkChange change);
    void ShowReading(int index, std::uint64_t x, std::uint32_t raw);
    void ShowWriteConfirmed(std::uint8_t registerLow);
    void SetPanelText(int panel, const QString &text);
    qvr::TCycleControls CycleControls() const;

    // A key in UsbBox that moves the selection selects that line.
    bool UsbBoxKeyPress(QEvent *event);
    // Line chart: the bottom axis follows the newest points; one redraw.
    void FollowNewestPoints();
    void RefreshGauges();
    void WriteEditParameter(QLineEdit *edit, std::uint16_t reg);
    // One write request to the sensor chosen in SensAdr.
    void WriteParameter(std::uint16_t reg, int value);
    void SetCellText(int column, int row, const QString &text);
    void SetValueText(int index, const QString &text);
    void SetGridRows(int rows);
    void SetUpComponents();
    // Panels 0 and 1 at their fixed widths, panel 2 to the bar's right edge.
    void PlaceStatusPanels();
    void WireEvents();

    Ui::FMain form_;
    // The settings file, read at start and written at close.
    const QString configPath_;
    // Whether FormCreate read the settings file: only then does FormClose write it.
    bool settingsLoaded_ = false;
    std::unique_ptr<qvr::IPause> pause_;
    qvr::TBusSession session_;
    // The settings' controls, found once after the form is set up.
    std::unique_ptr<qvr::TSettingsForm> settingsForm_;
    const qvr::TEventSink show_ = [this](const qvr::TSessionEvent &e) { Show(e); };
    QTimer *usbTimer_ = nullptr;
    QTimer *timeoutTimer_ = nullptr;
    QTimer *saveTimer_ = nullptr;
    QTimer *reconnectTimer_ = nullptr;
    QFileDialog *saveDialog_ = nullptr;
    std::unique_ptr<qvr::TLineChart> chart_;
    std::array<TCGauge *, qvr::kSensorCount> gauges_{};
    std::array<QLabel *, 3> panels_{};
    // Value texts of grid rows beyond the sensor count, by sensor index.
    std::array<QString, qvr::kSensorCount> parkedValues_{};
};
