// TFMain: the program's one window. Its components come from Main.ui (plus
// the few that a form cannot hold: timers, chart series, the save dialog).
// Its handlers are thin: they read the controls, ask the link and the
// measurement model, and show the result. They live in files named after
// their subsystem:
//   main_link.cpp        connection, receive tick, frames, traffic log
//   main_polling.cpp     polling cycle
//   main_replies.cpp     replies to read and write requests
//   main_parameters.cpp  sensor parameter writes
//   main_display.cpp     grid, chart and gauges for the sensor count
//   main_log.cpp         measurement log file
//   main_startup.cpp     FormCreate, FormClose, the settings file
#pragma once

#include "link/cftdi.h"
#include "link/codec.h"
#include "texts.h"
#include "link/receiver.h"
#include "measure/model.h"
#include "storage/log_line.h"
#include "storage/settings.h"
#include "ui_Main.h"

#include <QMainWindow>
#include <array>
#include <memory>

class QCPGraph;
class QFileDialog;
class QLabel;
class QTimer;

class TFMain : public QMainWindow, public Ui::FMain, private qvr::ILinkView {
    Q_OBJECT

public:
    // The adapter library is the window's only way to the sensor bus: real
    // serial ports in the program, the simulated bus in the demo and tests.
    // The settings file is read by FormCreate and written by FormClose.
    // The window is built from its form; FormCreate then brings it up.
    TFMain(qvr::ID2xx &library, QString configPath, QWidget *parent = nullptr);
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

    // What the window works with, for reading: the transport (null before
    // FormCreate), the receiver and the measurement model.
    const qvr::CFtdi *Link() const { return Ftdi.get(); }
    const qvr::TReceiver &Receiver() const { return receiver_; }
    const qvr::TMeasurementModel &Measurement() const { return model_; }

    // Lines kept in the traffic log; older lines are dropped as new ones come.
    static constexpr int kUartLogMaxLines = 50000;

    // Frame codec and traffic log.
    void SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                   std::uint16_t word2, std::uint16_t word3);
    void ProcessFrame(const qvr::TDecodedFrame &frame);
    void AppendLogLine(const QString &text, const QColor &colour);

    // Polling cycle.
    void PollNextSensor();

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
    void HandleReply(const qvr::TDecodedFrame &frame);
    // Grid rows, series and gauges for `count` active sensors; the table reset.
    void SetupSensorDisplay(int count);

    // Points each chart series keeps; older points leave from the left. The
    // bottom axis never shows more than kChartWindow steps and the chart
    // cannot be scrolled, so older points would only fill memory.
    static constexpr int kSeriesMaxPoints = 1000;

    // Starts a timer unless it is already running: enabling a running timer
    // must not restart its interval.
    static void EnableTimer(QTimer *timer);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // ILinkView: what the transport shows and reports.
    void SetPanelText(int panel, const QString &text) override;
    void SetConnectCaption(const QString &caption) override;
    void LinkUp() override;
    void LinkDown() override;

    // The settings between the file and the controls that show them.
    void ShowSettings(const qvr::TSettings &settings);
    qvr::TSettings ShownSettings() const;
    qvr::TLogFields LogFields() const;

    // Connect steps shared by the button and a selection in UsbBox.
    void StartConnecting();
    // A key in UsbBox that moves the selection selects that line.
    bool UsbBoxKeyPress(QEvent *event);
    void ReadReply(const qvr::TDecodedFrame &frame);
    void WriteReply(const qvr::TDecodedFrame &frame);
    void AddChartPoint(int index, std::uint64_t x, std::uint32_t raw);
    // Line chart: the bottom axis follows the newest points; one redraw.
    void FollowNewestPoints();
    void RefreshGauges();
    void WriteEditParameter(QLineEdit *edit, std::uint16_t reg);
    // One write request to the sensor chosen in SensAdr.
    void WriteParameter(std::uint16_t reg, int value);
    void RestoreEditColour(QLineEdit *edit);
    void SetCellText(int column, int row, const QString &text);
    void SetValueText(int index, const QString &text);
    void SetGridRows(int rows);
    void SetUpComponents();
    // Panels 0 and 1 at their fixed widths, panel 2 to the bar's right edge.
    void PlaceStatusPanels();
    void SetUpChart();
    void WireEvents();

    qvr::ID2xx &library_;
    // The settings file, read at start and written at close.
    const QString ConfigPath;
    // Whether FormCreate read the settings file: only then does FormClose write it.
    bool settingsLoaded_ = false;
    // The single transport object; created by FormCreate.
    std::unique_ptr<qvr::CFtdi> Ftdi;
    qvr::TReceiver receiver_;
    qvr::TMeasurementModel model_;
    std::array<QCPGraph *, qvr::kSensorCount> series_{};
    std::array<TCGauge *, qvr::kSensorCount> gauges_{};
    std::array<QLabel *, 3> panels_{};
    // Value texts of grid rows beyond the sensor count, by sensor index.
    std::array<QString, qvr::kSensorCount> parkedValues_{};
};
