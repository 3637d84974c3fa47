// TFMain: the program's one window. Its components come from Main.ui (plus
// the few that a form cannot hold: timers, chart series, the save dialog);
// its handlers are defined in the folders of their subsystems:
//   link/link_handlers.cpp        connection, receive tick, frames, traffic log
//   measure/polling.cpp           polling cycle and reading table
//   measure/reply_handling.cpp    replies to read and write requests
//   measure/parameter_writes.cpp  sensor parameter writes
//   measure/display_setup.cpp     grid, chart and gauges for the sensor count
//   storage/measurement_log.cpp   measurement log file
//   app/startup.cpp               FormCreate, FormClose
#pragma once

#include "link/cftdi.h"
#include "link/codec.h"
#include "measure/polling_logic.h"
#include "ui_Main.h"

#include <QMainWindow>
#include <array>
#include <memory>

class QCPGraph;
class QFileDialog;
class QLabel;
class QTimer;

class TFMain : public QMainWindow, public Ui::FMain, public qvr::TRxFrame, public qvr::ILinkView {
    Q_OBJECT

public:
    // The adapter library is the window's only way to the sensor bus: real
    // serial ports in the program, the simulated bus in the demo and tests.
    explicit TFMain(qvr::ID2xx &library, QWidget *parent = nullptr);
    ~TFMain() override;

    // Components the form description cannot hold.
    QTimer *UsbTimer = nullptr;
    QTimer *TimeoutTimer = nullptr;
    QTimer *SaveTimer = nullptr;
    QCPGraph *Series1 = nullptr, *Series2 = nullptr, *Series3 = nullptr, *Series4 = nullptr,
             *Series5 = nullptr, *Series6 = nullptr, *Series7 = nullptr, *Series8 = nullptr,
             *Series9 = nullptr, *Series10 = nullptr, *Series11 = nullptr, *Series12 = nullptr,
             *Series13 = nullptr, *Series14 = nullptr, *Series15 = nullptr, *Series16 = nullptr;
    QFileDialog *SaveDialog = nullptr;

    // Series, gauge and status-bar panel by index (sensor index 0..15, panel 0..2).
    QCPGraph *Series(int index) const { return series_[index]; }
    TCGauge *Gauge(int index) const { return gauges_[index]; }
    QString PanelText(int panel) const;
    // Whether a series is active: drawn and listed in the legend.
    void SetSeriesActive(int index, bool active);
    bool SeriesActive(int index) const;

    // The single transport object; created by FormCreate.
    std::unique_ptr<qvr::CFtdi> Ftdi;

    // Polling cycle and reading table.
    std::array<std::uint32_t, qvr::kSensorCount> SensorReading{};
    std::uint8_t NextAddress = qvr::kFirstAddress;
    std::uint8_t PolledIndex = 0;

    // Empty receive ticks still to wait before the buffered frame is processed.
    std::int32_t SilenceTicks = 0;

    // Lines kept in the traffic log; older lines are dropped as new ones come.
    static constexpr int kUartLogMaxLines = 50000;

    // Frame codec and traffic log.
    void SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                   std::uint16_t word2, std::uint16_t word3);
    void ProcessFrame();
    void AppendLogLine(const QString &text, const QColor &colour);

    // ILinkView: what the transport shows and drives.
    void SetPanelText(int panel, const QString &text) override;
    void SetConnectCaption(const QString &caption) override;
    void SetUsbTimerEnabled(bool enabled) override;
    void PollNextSensor() override;

    // Handlers.
    void FormCreate();
    void FormClose();
    void UartLogDblClick();
    void ConnectButtonClick();
    void UsbBoxClick(QListWidgetItem *item);
    void UpdateDataClick();
    void SensorValueDrawCell(QPainter &canvas, int column, int row, const QRect &rect,
                             bool selected);
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

    // Reply handling of a good frame (read and write replies).
    void HandleReply();

    // Starts a timer unless it is already running: enabling a running timer
    // must not restart its interval.
    static void EnableTimer(QTimer *timer);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Connect steps shared by the button and a selection in UsbBox.
    void StartConnecting();
    void SetUpComponents();
    void SetUpChart();
    void WireEvents();

    qvr::ID2xx &library_;
    std::array<QCPGraph *, qvr::kSensorCount> series_{};
    std::array<TCGauge *, qvr::kSensorCount> gauges_{};
    std::array<QLabel *, 3> panels_{};
};
