#include "core/serial/instrument_port.h"

namespace ufd::serial {

void configureForInstrument(TComm& comm) {
    comm.setCommName(QStringLiteral("COM1"));
    comm.setBaudRate(9600);
    comm.setParityCheck(false);
    comm.setOutx_CtsFlow(false);
    comm.setOutx_DsrFlow(false);
    comm.setDtrControl(TDtrControl::DtrDisable);
    comm.setDsrSensitivity(false);
    comm.setTxContinueOnXoff(false);
    comm.setOutx_XonXoffFlow(false);
    comm.setInx_XonXoffFlow(false);
    comm.setReplaceWhenParityError(false);
    comm.setIgnoreNullChar(false);
    comm.setRtsControl(TRtsControl::RtsDisable);
    comm.setXonLimit(500);
    comm.setXoffLimit(500);
    comm.setByteSize(TByteSize::_8);
    comm.setParity(TParity::None);
    comm.setStopBits(TStopBits::_1);
    comm.setXonChar(0x11);
    comm.setXoffChar(0x13);
    comm.setReplacedChar(0x00);
    // Answers are cut from the stream by their length, not by a quiet gap after them: bytes go
    // to the dispatcher as soon as the line pauses for a millisecond.
    comm.setReadIntervalTimeout(1);
    comm.setReadTotalTimeoutMultiplier(0);
    comm.setReadTotalTimeoutConstant(0);
    comm.setWriteTotalTimeoutMultiplier(0);
    comm.setWriteTotalTimeoutConstant(0);
}

void openInstrumentPort(TComm& comm, const QString& portName, std::uint32_t baudRate) {
    comm.setCommName(portName);
    comm.setBaudRate(baudRate);
    comm.setParityCheck(false);
    comm.setParity(TParity::None);
    comm.setByteSize(TByteSize::_8);
    comm.setStopBits(TStopBits::_1);
    comm.ClosePort();
    comm.OpenPort();
}

QString portOpenedText(const QString& portName, const QString& speedText) {
    return QStringLiteral("Communication Port opened.（") + portName + QLatin1Char(',') +
           speedText + QStringLiteral("，None）");
}

QString withOpenFailureReason(const QString& text, const ECommsError& error) {
    return error.reason().isEmpty() ? text : text + QLatin1Char('\n') + error.reason();
}

QString portRefusedSettingsText(const QString& portName, const QStringList& refused) {
    return QStringLiteral("Communication Port opened (%1), but it refused %2: the line may not "
                          "reach the instrument.")
        .arg(portName, refused.join(QStringLiteral(", ")));
}

QString portClosedText() {
    return QStringLiteral("Communication Port closed！");
}

} // namespace ufd::serial
