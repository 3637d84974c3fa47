// Connection handlers, the receive tick, frame sending and processing, and
// the traffic log.
#include "Main.h"

#include <QScrollBar>
#include <QThread>
#include <QTimer>

void TFMain::ConnectButtonClick()
{
    if (Ftdi->IsOpen()) {
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
    if (Ftdi->IsOpen()) {
        SetConnectCaption(QStringLiteral("Połącz"));
        Ftdi->Close();
    }
    if (item)
        Ftdi->SetDescription(item->text().toStdString());
    if (!Ftdi->IsOpen())
        StartConnecting();
}

void TFMain::LinkUp()
{
    EnableTimer(UsbTimer);
    PollNextSensor();
}

void TFMain::LinkDown()
{
    UsbTimer->stop();
}

void TFMain::UsbTimerTimer()
{
    if (!Ftdi)
        return;
    if (const std::optional<qvr::TDecodedFrame> frame = receiver_.Tick(*Ftdi))
        ProcessFrame(*frame);
}

void TFMain::SendFrame(std::uint8_t address, std::uint8_t function, std::uint16_t word1,
                       std::uint16_t word2, std::uint16_t word3)
{
    std::uint8_t frame[qvr::kMaxRequestSize];
    const std::size_t length = qvr::BuildRequest(frame, address, function, word1, word2, word3);
    if (Ftdi->IsOpen()) {
        QThread::msleep(2);
        Ftdi->Write(frame, static_cast<std::uint32_t>(length));
    }
    // Logged whether or not it went out.
    AppendLogLine(qvr::text::TxLine(frame, length), qvr::text::kTxColor);
}

void TFMain::ProcessFrame(const qvr::TDecodedFrame &frame)
{
    AppendLogLine(qvr::text::RxLine(frame.Bytes.data(), frame.FrameLength), qvr::text::kRxColor);
    if (!frame.Good()) {
        AppendLogLine(qvr::text::ErrorLine(frame.Result), qvr::text::kErrorColor);
        return;
    }
    HandleReply(frame);
}

void TFMain::AppendLogLine(const QString &text, const QColor &colour)
{
    // A cursor of its own: the operator's selection keeps its place and the
    // lines already there keep their colours. One edit for the new line, so
    // that only the lines scrolled in are laid out and repainted, not the
    // whole view (two lines for every reading, all day).
    QTextDocument *document = UartLog->document();
    QScrollBar *bar = UartLog->verticalScrollBar();
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
    UartLog->clear();
}
