#include "windows/serial/port_window.h"

#include "core/protocol/dispatcher.h"
#include "core/serial/comm.h"
#include "core/serial/instrument_port.h"
#include "core/serial/port_discovery.h"
#include "widgets/operator_messages.h"
#include "widgets/remembered.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace ufd::serial {

namespace {

constexpr int kClientWidth = 294;
constexpr int kClientHeight = 257;

const QString kOpenCaption = QStringLiteral("Open Port");
const QString kCloseCaption = QStringLiteral("Close Port");

QComboBox* makeBox(QWidget* parent, const char* name, bool editable) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(editable);
    box->setInsertPolicy(QComboBox::NoInsert);
    // Every typed character is a change of its own; completing the text would skip some.
    if (editable) {
        box->setCompleter(nullptr);
    }
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return box;
}

// A status panel that keeps its whole text but shows a long one shortened in the middle, so
// that the start of the message and the speed stay in view; the tool tip has it whole.
class StatusPanel final : public QLabel {
public:
    explicit StatusPanel(QWidget* parent) : QLabel(parent) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setMinimumWidth(1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        drawFrame(&p);
        const QRect area = contentsRect().adjusted(3, 0, -3, 0);
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

} // namespace

QString invalidPortText() {
    return QStringLiteral("The communication port is invalid!");
}

QString invalidPortOnChangeText() {
    return QStringLiteral("The communication port is invalid");
}

QString notAnIntegerText(const QString& text) {
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

TiLedRectangle::TiLedRectangle(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TiLedRectangle::setActive(bool on) {
    if (active_ != on) {
        active_ = on;
        update();
    }
}

void TiLedRectangle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const QColor on(40, 220, 60);
    const QColor off(30, 70, 36);
    QLinearGradient glass(r.topLeft(), r.bottomLeft());
    glass.setColorAt(0.0, (active_ ? on : off).lighter(active_ ? 150 : 125));
    glass.setColorAt(1.0, active_ ? on : off);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(glass);
    p.drawRoundedRect(r, 2.5, 2.5);
}

Tcksz::Tcksz(TComm& comm, protocol::Dispatcher& dispatcher, app::OperatorMessages& messages,
             const QString& simulatorLink, QWidget* parent, DeviceEnumerator devices)
    // A tool window of the main window: a settings window stays in front of it.
    : QWidget(parent, Qt::Tool), comm_(comm), dispatcher_(dispatcher), messages_(messages),
      simulatorLink_(simulatorLink), devices_(std::move(devices)) {
    setObjectName(QStringLiteral("cksz"));
    setWindowTitle(QLatin1String(kPortWindowCaption));
    setFixedSize(kClientWidth, kClientHeight);

    auto* group = new QGroupBox(QStringLiteral("Setting"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    ComboBox1_ = makeBox(group, "ComboBox1", true);
    ComboBox2_ = makeBox(group, "ComboBox2", true);
    ComboBox3_ = makeBox(group, "ComboBox3", false);
    iLedRectangle1_ = new TiLedRectangle(group);
    iLedRectangle1_->setObjectName(QStringLiteral("iLedRectangle1"));
    suiButtonOpenComm_ = new QPushButton(kOpenCaption, group);
    suiButtonOpenComm_->setObjectName(QStringLiteral("suiButtonOpenComm"));
    suiButtonOpenComm_->setMinimumWidth(96);
    CheckBox1_ = new QCheckBox(QStringLiteral("打开通信口"), this);
    CheckBox1_->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1_->hide();

    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(14, 14, 14, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(12);
    const char* labels[] = {"Port:", "BaudRate:", "Parity:"};
    QComboBox* boxes[] = {ComboBox1_, ComboBox2_, ComboBox3_};
    for (int row = 0; row < 3; ++row) {
        auto* label = new QLabel(QLatin1String(labels[row]), group);
        label->setBuddy(boxes[row]);
        grid->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(boxes[row], row, 1);
    }
    grid->setColumnStretch(1, 1);
    auto* openRow = new QHBoxLayout;
    openRow->addWidget(iLedRectangle1_);
    openRow->addStretch();
    openRow->addWidget(suiButtonOpenComm_);
    grid->addLayout(openRow, 3, 0, 1, 2);

    auto* StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    statusPanel_ = new StatusPanel(StatusBar1);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel0"));
    StatusBar1->addWidget(statusPanel_, 1);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(10, 8, 10, 8);
    body->addWidget(group);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(body, 1);
    layout->addWidget(StatusBar1);

    buildLegacyControls();

    ComboBox2_->addItems({QStringLiteral("9600"), QStringLiteral("38400"), QStringLiteral("115200"),
                          QStringLiteral("921600")});
    ComboBox2_->setCurrentIndex(-1);
    ComboBox2_->setEditText(QStringLiteral("921600"));
    // The speed the port was last opened at; the port itself is chosen with the list.
    if (const QString speed = app::rememberedPort().speed; !speed.isEmpty()) {
        ComboBox2_->setEditText(speed);
    }
    ComboBox3_->addItems({QStringLiteral("None"), QStringLiteral("Odd "), QStringLiteral("Even")});
    ComboBox3_->setCurrentIndex(0);
    ComboBox3_->setEnabled(false);

    portRefresh_ = new QTimer(this);
    portRefresh_->setInterval(kPortRefreshMs);
    connect(portRefresh_, &QTimer::timeout, this, &Tcksz::refreshPorts);
    FormCreate();

    // Every change of a box's text counts: a chosen item and each typed character.
    connect(ComboBox1_, &QComboBox::editTextChanged, this, &Tcksz::ComboBox1Change);
    connect(ComboBox2_, &QComboBox::editTextChanged, this, &Tcksz::ComboBox2Change);
    connect(ComboBox3_, &QComboBox::currentIndexChanged, this, &Tcksz::ComboBox2Change);
    connect(suiButtonOpenComm_, &QPushButton::clicked, this, &Tcksz::suiButtonOpenCommClick);
    // The line vanished under the open port: the application context closed it; this window
    // says so.
    connect(&dispatcher_, &protocol::Dispatcher::lineGone, this, [this] { showClosed(); });
    // The line is back: the application context opened the port again with the settings it had.
    connect(&dispatcher_, &protocol::Dispatcher::lineBack, this,
            [this](const QString& location) { showReopened(location); });
}

// Also where it was at the end of the run, when it was still showing.
Tcksz::~Tcksz() {
    if (isVisible()) {
        app::saveWindowGeometry(this, objectName());
    }
}

// Controls of the controller functions of an older product: carried, never shown.
void Tcksz::buildLegacyControls() {
    auto* state = new QGroupBox(QStringLiteral("当前通信口状态"), this);
    state->setObjectName(QStringLiteral("GroupBox2"));
    auto* picture = new QLabel(state);
    picture->setObjectName(QStringLiteral("Image1"));
    auto* stateLabel = new QLabel(QStringLiteral("已断开"), state);
    stateLabel->setObjectName(QStringLiteral("Label4"));
    state->hide();
    auto* max = new QComboBox(this);
    max->setObjectName(QStringLiteral("ComboBox_Max"));
    max->addItems({QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("300"),
                   QStringLiteral("400")});
    max->hide();
}

void Tcksz::FormCreate() {
    ComboBox1_->clear();
    refreshPorts();
}

void Tcksz::refreshPorts() {
    const QList<PortEntry> entries = discoverPorts(simulatorLink_, devices_);
    if (entries == entries_ && ComboBox1_->count() == entries.size()) {
        return;
    }
    const bool first =
        entries_.isEmpty() && ComboBox1_->count() == 0 && ComboBox1_->currentText().isEmpty();
    const QString text = ComboBox1_->currentText();
    entries_ = entries;
    // A new list is no change of port: the open port stays as it is.
    const QSignalBlocker quiet(ComboBox1_);
    ComboBox1_->clear();
    int widest = 0;
    for (const PortEntry& e : entries) {
        ComboBox1_->addItem(e.label, e.location);
        widest = std::max(widest, ComboBox1_->fontMetrics().horizontalAdvance(e.label));
    }
    if (first) {
        // The port last opened, while it is present; else the first one.
        const int last = ComboBox1_->findData(app::rememberedPort().location);
        ComboBox1_->setCurrentIndex(entries.isEmpty() ? -1 : std::max(last, 0));
    } else {
        ComboBox1_->setCurrentIndex(ComboBox1_->findText(text));
        ComboBox1_->setEditText(text);
    }
    // The window grows until the box shows its longest entry whole: margins, the row labels'
    // column and the drop-down button take the rest.
    ComboBox1_->view()->setTextElideMode(Qt::ElideNone);
    ComboBox1_->view()->setMinimumWidth(widest + 24);
    const int labels = fontMetrics().horizontalAdvance(QStringLiteral("BaudRate:"));
    entriesWidth_ = widest + labels + 110;
    fitWidth();
}

void Tcksz::fitWidth() {
    // The status panel's frame and padding, and the window's margins beside it.
    const int status = statusPanel_->fontMetrics().horizontalAdvance(statusPanel_->text()) + 24;
    int wanted = std::max({kClientWidth, entriesWidth_, status});
    if (const QScreen* s = screen()) {
        wanted = std::min(wanted, s->availableGeometry().width() * 9 / 10);
    }
    setFixedWidth(std::max(wanted, kClientWidth));
}

void Tcksz::setStatus(const QString& text) {
    statusPanel_->setText(text);
    statusPanel_->setToolTip(text);
    fitWidth();
}

QString Tcksz::portLocation() const {
    const QString text = ComboBox1_->currentText();
    const int at = ComboBox1_->findText(text);
    return at >= 0 ? ComboBox1_->itemData(at).toString() : text;
}

// The box shows what each port is; operator texts name the port alone.
QString Tcksz::portName() const {
    const QString text = ComboBox1_->currentText();
    for (const PortEntry& e : entries_) {
        if (e.label == text) {
            return e.name;
        }
    }
    return text;
}

bool Tcksz::portOpen() const {
    return CheckBox1_->isChecked();
}

bool Tcksz::lampLit() const {
    return iLedRectangle1_->active();
}

QString Tcksz::statusText() const {
    return statusPanel_->text();
}

void Tcksz::showPortWindow() {
    show();
    raise();
    activateWindow();
}

void Tcksz::connectClicked(bool /*linkConnected*/) {
    dispatcher_.ConnectButtonClick(portOpen());
}

void Tcksz::closePort() {
    comm_.ClosePort();
}

bool Tcksz::readSpeed(std::uint32_t& baudRate) {
    const QString text = ComboBox2_->currentText();
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok) {
        messages_.showError(notAnIntegerText(text));
        return false;
    }
    baudRate = value;
    return true;
}

void Tcksz::showOpened() {
    iLedRectangle1_->setActive(true);
    CheckBox1_->setChecked(true);
    suiButtonOpenComm_->setText(kCloseCaption);
    const QStringList refused = comm_.refusedSettings();
    const QString text = refused.isEmpty() ? portOpenedText(portName(), ComboBox2_->currentText())
                                           : portRefusedSettingsText(portName(), refused);
    app::rememberPort(portLocation(), ComboBox2_->currentText());
    setStatus(text);
}

void Tcksz::showReopened(const QString& location) {
    refreshPorts();
    const QSignalBlocker quietPort(ComboBox1_);
    const QSignalBlocker quietSpeed(ComboBox2_);
    const int at = ComboBox1_->findData(location);
    if (at >= 0) {
        ComboBox1_->setCurrentIndex(at);
    } else {
        ComboBox1_->setEditText(location);
    }
    ComboBox2_->setEditText(QString::number(comm_.BaudRate()));
    showOpened();
}

void Tcksz::showClosed() {
    iLedRectangle1_->setActive(false);
    CheckBox1_->setChecked(false);
    suiButtonOpenComm_->setText(kOpenCaption);
    setStatus(portClosedText());
}

void Tcksz::suiButtonOpenCommClick() {
    const QString port = ComboBox1_->currentText();
    if (port.isEmpty()) {
        messages_.showMessage(invalidPortText());
        iLedRectangle1_->setActive(false);
        return;
    }
    if (iLedRectangle1_->active()) {
        comm_.ClosePort();
        showClosed();
        return;
    }
    std::uint32_t baudRate = 0;
    if (!readSpeed(baudRate)) {
        return; // nothing has changed yet
    }
    try {
        openInstrumentPort(comm_, portLocation(), baudRate);
        showOpened();
    } catch (const ECommsError& e) {
        messages_.showMessage(withOpenFailureReason(invalidPortText(), e));
        comm_.ClosePort();
        showClosed();
    }
}

void Tcksz::ComboBox1Change() {
    if (!portOpen()) {
        return; // the next open takes the new choice
    }
    comm_.ClosePort();
    std::uint32_t baudRate = 0;
    if (!readSpeed(baudRate)) {
        // The port is closed by now; the window must not go on saying it is open.
        showClosed();
        return;
    }
    try {
        openInstrumentPort(comm_, portLocation(), baudRate);
        showOpened();
    } catch (const ECommsError& e) {
        messages_.showMessage(withOpenFailureReason(invalidPortOnChangeText(), e));
        comm_.ClosePort();
        showClosed();
    }
}

void Tcksz::ComboBox2Change() {
    ComboBox1Change();
}

void Tcksz::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    // Adapters come and go: the list is read on every showing and then every second.
    refreshPorts();
    portRefresh_->start();
    if (!centred_) {
        centred_ = true;
        // Where the operator left it last time; centred the first time ever.
        const QScreen* s = screen();
        if (!app::restoreWindowGeometry(this, objectName()) && s != nullptr) {
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    FormShow();
}

void Tcksz::FormShow() {
    dispatcher_.clearRxErrorFlag();
}

void Tcksz::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        portRefresh_->stop();
        app::saveWindowGeometry(this, objectName());
    }
}

// Closing only hides: the port, the lamp and the flag stay as they are.
void Tcksz::closeEvent(QCloseEvent* event) {
    event->accept();
}

} // namespace ufd::serial
