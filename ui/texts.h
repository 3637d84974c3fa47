// Every text and colour the operator sees, in one place. The libraries below
// the window report states, codes and values; the window words and colours
// them here. The form's static labels stay in Main.ui.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

namespace qvr::text {

// Window and message boxes.
inline const QString kWindowTitle = QStringLiteral("QVR-1 PC  wersja: 1.02");
inline const QString kApplicationTitle = QStringLiteral("QVR 1 - PC");
inline const QString kLogFileBusyTitle = QStringLiteral("Zapis do pliku");
inline const QString kLogFileBusy = QStringLiteral("Plik jest aktualnie uzywany");
inline const QString kControlCharacterInName =
    QStringLiteral("Nazwa pliku zawiera znaki sterujące (np. koniec wiersza). Wybierz plik o "
                   "innej nazwie.");

// The log file dialog.
inline const QString kSaveDialogTitle = QStringLiteral("Plik z pomiarami");
inline const QString kTextFileFilter = QStringLiteral("Plik tekstowy (*.txt)");
inline const QString kCsvFileFilter = QStringLiteral("Plik danych zordzielony średnikami (*.csv)");

// The simulated sensor bus's adapter, as the demo lists it.
inline const QString kSimulatedBus = QStringLiteral("Symulowana magistrala czujników QVR-1");

// The connect button's captions.
inline const QString kConnectCaption = QStringLiteral("Połącz");
inline const QString kDisconnectCaption = QStringLiteral("Rozłącz");

// Status bar, panel 0: the connection's course.
inline const QString kConnecting = QStringLiteral("Próba nawiązania połączenia");
inline const QString kConnectedOk = QStringLiteral("Połączenie zostało nawiązane poprwanie");
inline const QString kNoDevices = QStringLiteral("Nie znaleziono urządzeń USB");
inline const QString kConnectionEnded = QStringLiteral("Połączenie zostało zakończone");
// Panel 1: the link's state. A lost link and a closed one differ by a letter.
inline const QString kLinkUp = QStringLiteral("Polączony");
inline const QString kLinkLost = QStringLiteral("Rozłączony");
inline const QString kLinkClosed = QStringLiteral("Rozłaczony");
// Panel 2: the log file and parameter writes.
inline const QString kLogWriteError = QStringLiteral("Błąd zapisu do pliku");

// The confirmation of a write echo for the register whose low byte the sensor
// echoed; nothing for a register the configuration page does not write.
std::optional<QString> WriteConfirmation(std::uint8_t registerLow);

// Grid and chart.
inline const QString kSensorHeader = QStringLiteral("Czujnik");
inline const QString kValueHeader =
    QStringLiteral("Wartość [RAW] [% zakresu czujnika] [wartość * Coeff]");
QString SensorRowTitle(int address); // "ID [50]"
QString SeriesTitle(int address);    // "Czujnik [ID 50]"

// Traffic log: a request, a reply, a frame error and a write echo.
QString TxLine(const std::uint8_t *frame, std::size_t length);
QString RxLine(const std::uint8_t *frame, std::size_t length);
// "Error: " + the result sign-extended to 32 bits, upper-case hex, at least two digits.
QString ErrorLine(std::int8_t result);
inline const QString kParameterWritten = QStringLiteral("Parametr zapisany");
inline const QColor kTxColor{109, 178, 49};
inline const QColor kRxColor{24, 142, 214};
inline const QColor kErrorColor{123, 40, 42};

// An edit whose text is not a number.
inline const QColor kEditErrorColour{253, 124, 102};
// The chart's series, by sensor index.
QColor SeriesColour(int index);

// The settings file could not be read or written:
// "Nie można odczytać pliku <path>: <reason>" (the path in native separators).
QString SettingsReadError(const QString &path, const QString &reason);
QString SettingsWriteError(const QString &path, const QString &reason);

} // namespace qvr::text
