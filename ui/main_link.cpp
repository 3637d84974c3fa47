// The bus: connection handlers, the receive tick, polling, and what the
// session reports, shown in the status bar, the grid, the chart and the
// traffic log.
#include "Main.h"
#include "texts.h"

#include <QScrollBar>
#include <QTimer>

void TFMain::ConnectButtonClick()
{
    session_.ConnectButton(CycleControls(), show_);
}

void TFMain::UsbBoxClick(QListWidgetItem *item)
{
    // Selecting an adapter always reconnects to it.
    session_.ChooseAdapter(item ? std::optional(item->text().toStdString()) : std::nullopt,
                           CycleControls(), show_);
}

void TFMain::UsbTimerTimer()
{
    session_.ReceiveTick(CycleControls(), show_);
}

void TFMain::TimeoutTimerTimer()
{
    session_.TimedOut(CycleControls(), show_);
}

void TFMain::ReconnectTimerTimer()
{
    session_.Reconnect(CycleControls(), show_);
}

void TFMain::PollNextSensor()
{
    session_.PollNextSensor(CycleControls(), show_);
}

void TFMain::UpdateDataClick()
{
    PollNextSensor();
}

void TFMain::SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                       std::uint16_t word2, std::uint16_t word3)
{
    session_.SendFrame(address, function, word1, word2, word3, show_);
}

qvr::TCycleControls TFMain::CycleControls() const
{
    return {form_.UpdateData->isChecked(), form_.SensorCnt->currentIndex()};
}

void TFMain::Show(const qvr::TSessionEvent &e)
{
    namespace text = qvr::text;
    using Kind = qvr::TSessionEvent::Kind;
    switch (e.What) {
    case Kind::Link:
        ShowLinkChange(e.Link);
        break;
    case Kind::FrameSent:
        AppendLogLine(text::TxLine(e.Bytes.data(), e.Length), text::kTxColor);
        break;
    case Kind::FrameReceived:
        AppendLogLine(text::RxLine(e.Bytes.data(), e.Length), text::kRxColor);
        break;
    case Kind::FrameError:
        AppendLogLine(text::ErrorLine(e.Result), text::kErrorColor);
        break;
    case Kind::Reading:
        ShowReading(e.Sensor, e.X, e.Raw);
        break;
    case Kind::WriteConfirmed:
        if (const std::optional<QString> confirmation = text::WriteConfirmation(e.Register))
            SetPanelText(2, *confirmation);
        AppendLogLine(text::kParameterWritten, text::kErrorColor);
        break;
    case Kind::TimeoutStart:
        EnableTimer(timeoutTimer_);
        break;
    case Kind::TimeoutStop:
        timeoutTimer_->stop();
        break;
    case Kind::ReconnectStart:
        reconnectTimer_->start();
        break;
    case Kind::ReconnectStop:
        reconnectTimer_->stop();
        break;
    }
}

void TFMain::ShowLinkChange(qvr::TLinkChange change)
{
    namespace text = qvr::text;
    using Change = qvr::TLinkChange;
    switch (change) {
    case Change::Connecting:
        EnableTimer(usbTimer_);
        SetPanelText(0, text::kConnecting);
        form_.ConnectButton->setText(text::kDisconnectCaption);
        break;
    case Change::Disconnecting:
        SetPanelText(0, text::kConnectionEnded);
        form_.ConnectButton->setText(text::kConnectCaption);
        break;
    case Change::Switching:
    case Change::NoAdapters:
        form_.ConnectButton->setText(text::kConnectCaption);
        break;
    case Change::DetailFailed:
        SetPanelText(0, text::kNoDevices);
        break;
    case Change::OpenFailed:
        SetPanelText(1, text::kLinkLost);
        break;
    case Change::Up:
        SetPanelText(0, text::kConnectedOk);
        SetPanelText(1, text::kLinkUp);
        EnableTimer(usbTimer_);
        break;
    case Change::Lost:
        usbTimer_->stop();
        SetPanelText(1, text::kLinkLost);
        break;
    case Change::Closed:
        usbTimer_->stop();
        SetPanelText(1, text::kLinkClosed);
        break;
    }
}

void TFMain::AppendLogLine(const QString &text, const QColor &colour)
{
    // A cursor of its own: the operator's selection keeps its place and the
    // lines already there keep their colours. One edit for the new line, so
    // that only the lines scrolled in are laid out and repainted, not the
    // whole view (two lines for every reading, all day).
    QTextDocument *document = form_.UartLog->document();
    QScrollBar *bar = form_.UartLog->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCharFormat format;
    format.setForeground(colour);
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(text, format);
    cursor.endEditBlock();
    if (following)
        bar->setValue(bar->maximum());
}

void TFMain::UartLogDblClick()
{
    form_.UartLog->clear();
}

QString TFMain::PanelText(int panel) const
{
    return panels_[panel]->text();
}

void TFMain::SetPanelText(int panel, const QString &text)
{
    panels_[panel]->setText(text);
}

void TFMain::EnableTimer(QTimer *timer)
{
    if (!timer->isActive())
        timer->start();
}
