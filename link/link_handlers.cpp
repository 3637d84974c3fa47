// Connection handlers, the receive tick, frame sending and processing, and
// the traffic log of the main window.
#include "ui/Main.h"

#include <QThread>
#include <QTimer>

void TFMain::ConnectButtonClick()
{
    if (Ftdi->IsOpen) {
        SetPanelText(0, QStringLiteral("Połączenie zostało zakończone"));
        SetConnectCaption(QStringLiteral("Połącz"));
        Ftdi->Close();
        return;
    }
    StartConnecting();
}

void TFMain::StartConnecting()
{
    EnableTimer(UsbTimer);
    SetPanelText(0, QStringLiteral("Próba nawiązania połączenia"));
    SetConnectCaption(QStringLiteral("Rozłącz"));
    Ftdi->Open();
}

void TFMain::UsbBoxClick(QListWidgetItem *item)
{
    // Selecting an adapter always reconnects to it.
    if (Ftdi->IsOpen) {
        SetConnectCaption(QStringLiteral("Połącz"));
        Ftdi->Close();
    }
    if (item)
        Ftdi->Description = item->text().toStdString();
    if (!Ftdi->IsOpen)
        StartConnecting();
}

void TFMain::UsbTimerTimer()
{
    if (!Ftdi || !Ftdi->IsOpen)
        return;
    Ftdi->QueueStatus();
    // A failed status call has just taken the link down: read nothing.
    if (!Ftdi->IsOpen)
        return;
    if (Ftdi->RxQueue > 0) {
        for (std::uint32_t i = Ftdi->RxQueue; i > 0; --i) {
            Ftdi->ReadByte();
            AppendRxByte(Ftdi->RxByte);
        }
        SilenceTicks = 2;
    } else if (SilenceTicks > 0) {
        if (--SilenceTicks == 0)
            ProcessFrame();
    }
}

void TFMain::SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                       std::uint16_t word2, std::uint16_t word3)
{
    std::uint8_t frame[qvr::kMaxRequestSize];
    const std::size_t length = qvr::BuildRequest(frame, address, function, word1, word2, word3);
    if (Ftdi->IsOpen) {
        QThread::msleep(2);
        Ftdi->Write(frame, static_cast<std::uint32_t>(length));
    }
    // Logged whether or not it went out.
    AppendLogLine(qvr::TxLine(frame, length), qvr::kTxColor);
}

void TFMain::ProcessFrame()
{
    FrameLength = RxCount;
    const std::int8_t result = DecodeFrame();
    AppendLogLine(qvr::RxLine(RxBuffer, FrameLength), qvr::kRxColor);
    if (result != 0) {
        AppendLogLine(qvr::ErrorLine(result), qvr::kErrorColor);
        return;
    }
    HandleReply();
}

void TFMain::AppendLogLine(const QString &text, const QColor &colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    UartLog->setCurrentCharFormat(format);
    UartLog->appendPlainText(text);
}

void TFMain::UartLogDblClick()
{
    UartLog->clear();
}
