#include "app/form1.h"

#include "app/artwork.h"
#include "core/qt_serial_link.h"
#include "core/value_lists.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

#include <cmath>
#include <functional>
#include <utility>

#ifndef ZENTRAVA_MAKER_URL
#define ZENTRAVA_MAKER_URL "https://example.com/"
#endif

namespace zentrava {

const QColor Form1::kLightGreen(192, 255, 192);
const QColor Form1::kLightBlue(192, 192, 255);

namespace {
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 7920;
constexpr int kClientHeight = 3495;
constexpr int kStatusBarHeight = 255;
constexpr int kPanelWidth = 1440;

template <typename T> T* placed(T* widget, const char* name, QRect geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

void paintLightGreen(QWidget* box) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, Form1::kLightGreen);
    palette.setColor(QPalette::Button, Form1::kLightGreen);
    box->setPalette(palette);
}

// Reads the ports again just before its list drops down. No Q_OBJECT on purpose: to Qt, to
// assistive tools and to tests it stays the plain QComboBox the window always had.
class PortListBox final : public QComboBox {
public:
    PortListBox(QWidget* parent, std::function<void()> beforePopup)
        : QComboBox(parent), m_beforePopup(std::move(beforePopup)) {}

    void showPopup() override {
        m_beforePopup();
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_beforePopup;
};

// Adding the first entry selects it; the boxes must show their initial text instead.
void showInitialText(QComboBox* box, const QString& text) {
    box->setCurrentIndex(-1);
    box->setEditText(text);
}
} // namespace

Form1::Form1(const PortMap& portMap, UiServices services, std::unique_ptr<SerialLink> link,
             QWidget* parent)
    : Form1(std::make_unique<FixedPortSource>(portMap), services, std::move(link), parent) {}

Form1::Form1(std::unique_ptr<PortSource> ports, UiServices services,
             std::unique_ptr<SerialLink> link, QWidget* parent)
    : QMainWindow(parent),
      m_portSource(ports ? std::move(ports) : std::make_unique<SystemPortSource>()),
      MSComm1(link ? std::move(link) : std::make_unique<QtSerialLink>(m_portMap)),
      m_session(*MSComm1), replyBuffer(m_session.replyBuffer()), m_services(services) {
    setObjectName(QStringLiteral("Form1"));
    if (!m_services.messages) {
        m_ownMessages = std::make_unique<QtMessageSink>();
        m_services.messages = m_ownMessages.get();
    }
    if (!m_services.launcher) {
        m_ownLauncher = std::make_unique<QtLauncher>();
        m_services.launcher = m_ownLauncher.get();
    }
    if (!m_services.clipboard) {
        m_ownClipboard = std::make_unique<QtClipboard>();
        m_services.clipboard = m_ownClipboard.get();
    }
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    // Timer2 keeps the window's time, refused writes included.
    m_session.setTimeout(0);

    m_scale = logicalDpiX() / 96.0;
    setWindowTitle(QStringLiteral("RF tool for KT7720 868MHz"));
    setWindowIcon(applicationIcon());

    createControls();
    createStatusBar();
    wireEvents();
    runStartupSequence();
}

Form1::~Form1() = default;

QRect Form1::twips(int left, int top, int width, int height) const {
    auto px = [this](int t) { return int(std::lround(t * m_scale / kTwipsPerPixel)); };
    return QRect(px(left), px(top), px(width), px(height));
}

QGroupBox* Form1::makeFrame(const char* name, const QString& caption, QRect geometry) {
    return placed(new QGroupBox(caption, centralWidget()), name, geometry);
}

QPushButton* Form1::makeButton(QWidget* parent, const char* name, const QString& caption,
                               QRect geometry) {
    auto* button = placed(new QPushButton(caption, parent), name, geometry);
    QFont font = button->font();
    font.setPointSize(9);
    font.setBold(true);
    button->setFont(font);
    button->setAutoDefault(false);
    return button;
}

QComboBox* Form1::makeCombo(QWidget* parent, const char* name, bool editable, QRect geometry,
                            QComboBox* box) {
    box = placed(box ? box : new QComboBox(parent), name, geometry);
    box->setEditable(editable);
    if (editable) {
        // Typed text stays typed text: no completion, no new list entries on Enter.
        box->setCompleter(nullptr);
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    // The boxes are narrow: a slim arrow leaves room for "115200".
    box->setStyleSheet(QStringLiteral("QComboBox { padding-left: 1px; }"
                                      "QComboBox::drop-down { width: 12px; }"));
    paintLightGreen(box);
    return box;
}

QLineEdit* Form1::makeTextBox(QWidget* parent, const char* name, const QString& text,
                              QRect geometry) {
    auto* box = placed(new QLineEdit(text, parent), name, geometry);
    paintLightGreen(box);
    return box;
}

void Form1::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    QFont windowFont = font();
    windowFont.setPointSize(8);
    setFont(windowFont);

    Frame1 = makeFrame("Frame1", QStringLiteral("Usart"), twips(100, 120, 1890, 630));
    comport = makeCombo(Frame1, "comport", false, twips(960, 240, 840, 300),
                        new PortListBox(Frame1, [this] { refreshPortList(); }));
    comopen = makeButton(Frame1, "comopen", QStringLiteral("Open"), twips(120, 240, 720, 285));
    m_buttonFace = comopen->palette().color(QPalette::Button);
    Label2 = placed(new QLabel(Frame1), "Label2", twips(75, 975, 585, 165));

    Frame2 = makeFrame("Frame2", QStringLiteral("frequency"), twips(2000, 120, 2900, 700));
    TXfrequency =
        makeTextBox(Frame2, "TXfrequency", QStringLiteral("868"), twips(120, 270, 700, 280));
    readchannel =
        makeButton(Frame2, "readchannel", QStringLiteral("Read"), twips(930, 240, 800, 300));
    writechannel =
        makeButton(Frame2, "writechannel", QStringLiteral("Write"), twips(1880, 240, 800, 300));

    Frame7 = makeFrame("Frame7", QStringLiteral("RX frequency"), twips(4950, 120, 2900, 700));
    RXfrequency =
        makeTextBox(Frame7, "RXfrequency", QStringLiteral("868"), twips(120, 270, 700, 280));
    readpowerlevel =
        makeButton(Frame7, "readpowerlevel", QStringLiteral("Rread"), twips(960, 240, 800, 300));
    writepowerlevel =
        makeButton(Frame7, "writepowerlevel", QStringLiteral("Write"), twips(1830, 240, 800, 300));
    Frame7->setEnabled(false);

    Frame3 = makeFrame("Frame3", QStringLiteral("RF Datarate"), twips(2000, 900, 2900, 700));
    datarate = makeCombo(Frame3, "datarate", true, twips(120, 240, 735, 300));
    readdatarate =
        makeButton(Frame3, "readdatarate", QStringLiteral("Read"), twips(960, 240, 800, 300));
    writedatarate =
        makeButton(Frame3, "writedatarate", QStringLiteral("Write"), twips(1880, 240, 800, 300));

    Frame6 = makeFrame("Frame6", QStringLiteral("RF_Channel"), twips(4950, 900, 2900, 735));
    Combo1 = makeCombo(Frame6, "Combo1", true, twips(120, 240, 735, 300));
    Command1 = makeButton(Frame6, "Command1", QStringLiteral("Read"), twips(960, 240, 800, 300));
    Command2 = makeButton(Frame6, "Command2", QStringLiteral("Write"), twips(1830, 240, 800, 300));

    Frame5 =
        makeFrame("Frame5", QStringLiteral("ProductID(1~65536)"), twips(2000, 1700, 2900, 700));
    id = makeTextBox(Frame5, "id", QStringLiteral("00000"), twips(120, 270, 700, 280));
    id->setMaxLength(5);
    // Its clipboard keys are its own; a context menu would bypass them.
    id->setContextMenuPolicy(Qt::NoContextMenu);
    readid = makeButton(Frame5, "readid", QStringLiteral("Read"), twips(960, 270, 800, 300));
    writeid = makeButton(Frame5, "writeid", QStringLiteral("Write"), twips(1880, 270, 800, 300));

    Frame8 = makeFrame("Frame8", QStringLiteral("TX_Power"), twips(4950, 1700, 2900, 700));
    Combo2 = makeCombo(Frame8, "Combo2", true, twips(120, 240, 735, 300));
    Command3 = makeButton(Frame8, "Command3", QStringLiteral("Rread"), twips(960, 240, 800, 300));
    Command4 = makeButton(Frame8, "Command4", QStringLiteral("Write"), twips(1830, 240, 800, 300));

    Frame4 = makeFrame("Frame4", QStringLiteral("Serial Port Configuration"),
                       twips(2000, 2520, 5850, 700));
    Label8 =
        placed(new QLabel(QStringLiteral("BaudRate"), Frame4), "Label8", twips(120, 250, 780, 255));
    sbaudrate = makeCombo(Frame4, "sbaudrate", true, twips(960, 250, 735, 300));
    Label11 =
        placed(new QLabel(QStringLiteral("Parity"), Frame4), "Label11", twips(1680, 250, 750, 285));
    scheckbits = makeCombo(Frame4, "scheckbits", true, twips(2520, 250, 615, 300));
    readserial =
        makeButton(Frame4, "readserial", QStringLiteral("Read"), twips(3480, 250, 800, 300));
    writeserial =
        makeButton(Frame4, "writeserial", QStringLiteral("Write"), twips(4600, 250, 800, 300));

    Image1 = placed(new QLabel(client), "Image1", twips(360, 1440, 1170, 1155));
    Image1->setPixmap(drawLogo(Image1->size(), devicePixelRatioF()));
    Image1->setCursor(Qt::PointingHandCursor);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    ModuleSession::setUpReplyTimer(*Timer2);

    m_commandButtons = {readchannel,  writechannel,  readid,     writeid,     Command1, Command2,
                        readdatarate, writedatarate, readserial, writeserial, Command3, Command4};
    setToolTips();
}

void Form1::setToolTips() {
    // Screen readers take a control's tooltip as its description, so each says what the control
    // does and what it takes.
    const std::pair<QWidget*, const char*> tips[] = {
        {comopen, "Open the chosen port at 9600,n,8,1, or close it again"},
        {TXfrequency, "Transmit frequency, 855 to 875 MHz; sent rounded down to a step of "
                      "about 28.6 Hz"},
        {readchannel, "Read the transmit frequency, 855 to 875 MHz"},
        {writechannel, "Write the transmit frequency, 855 to 875 MHz"},
        {RXfrequency, "Receive frequency in MHz; not offered here, the section stays disabled"},
        {readpowerlevel, "Read the receive frequency; not offered here, the section stays "
                         "disabled"},
        {writepowerlevel, "Write the receive frequency; not offered here, the section stays "
                          "disabled"},
        {datarate, "RF data rate, 1200 to 57600 bit/s: pick one from the list"},
        {readdatarate, "Read the RF data rate, 1200 to 57600 bit/s"},
        {writedatarate, "Write the RF data rate, 1200 to 57600 bit/s"},
        {Combo1, "RF channel, 0 to 255 (the list offers 0 to 32)"},
        {Command1, "Read the RF channel, 0 to 255"},
        {Command2, "Write the RF channel, 0 to 255"},
        {id, "Product ID, 1 to 65535, digits only"},
        {readid, "Read the product ID, 1 to 65535"},
        {writeid, "Write the product ID, 1 to 65535"},
        {Combo2, "Transmit power level, 0 to 255 (the list offers 1 to 127)"},
        {Command3, "Read the transmit power level, 0 to 255"},
        {Command4, "Write the transmit power level, 0 to 255"},
        {sbaudrate, "Baud rate of the module's own serial port, 1200 to 115200"},
        {scheckbits, "Parity of the module's own serial port: n (none), e (even) or o (odd)"},
        {readserial, "Read the baud rate (1200 to 115200) and parity (n, e or o) of the "
                     "module's own serial port"},
        {writeserial, "Write the baud rate (1200 to 115200) and parity (n, e or o) of the "
                      "module's own serial port; this tool keeps talking at 9600,n,8,1"},
    };
    for (const auto& [control, tip] : tips)
        control->setToolTip(QString::fromUtf8(tip));
    Image1->setToolTip(
        QStringLiteral("Open %1 in the web browser").arg(QStringLiteral(ZENTRAVA_MAKER_URL)));
    updatePortToolTip();
}

void Form1::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    const QRect panel = twips(0, 0, kPanelWidth, kStatusBarHeight);
    bar->setFixedHeight(panel.height() + 2);
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setContentsMargins(2, 0, 2, 0);
        m_panels[std::size_t(i)] = label;
    }
    m_panels[0]->setMinimumWidth(panel.width());
    m_panels[1]->setFixedWidth(panel.width());
    m_panels[2]->setFixedWidth(panel.width());
    m_panels[2]->setAlignment(Qt::AlignCenter);
    bar->addWidget(m_panels[0], 1);
    bar->addPermanentWidget(m_panels[1]);
    bar->addPermanentWidget(m_panels[2]);

    m_clockTimer = new QTimer(this);
    m_clockTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early, before the minute turns, and so wake twice.
    m_clockTimer->setTimerType(Qt::PreciseTimer);
    connect(m_clockTimer, &QTimer::timeout, this, &Form1::updateClock);
    updateClock();

    const QRect client = twips(0, 0, kClientWidth, kClientHeight - kStatusBarHeight);
    centralWidget()->setFixedSize(client.size());
    setFixedSize(client.width(), client.height() + bar->height());
}

void Form1::updateClock() {
    const QTime now = QTime::currentTime();
    m_panels[2]->setText(now.toString(QStringLiteral("HH:mm")));
    // Wake once at the next minute boundary rather than polling.
    const int msToNextMinute = 60000 - (now.second() * 1000 + now.msec());
    m_clockTimer->start(msToNextMinute + 20);
}

QString Form1::panelText(int panel) const {
    return panel >= 1 && panel <= 3 ? m_panels[std::size_t(panel - 1)]->text() : QString();
}

void Form1::setPanelText(int panel, const QString& text) {
    m_panels[std::size_t(panel - 1)]->setText(text);
}

void Form1::wireEvents() {
    connect(comport, &QComboBox::currentIndexChanged, this, &Form1::updatePortToolTip);
    connect(m_portSource.get(), &PortSource::changed, this, &Form1::refreshPortList);
    connect(comopen, &QPushButton::clicked, this, &Form1::comopen_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(readchannel, &QPushButton::clicked, this, &Form1::readchannel_Click);
    connect(writechannel, &QPushButton::clicked, this, &Form1::writechannel_Click);
    connect(TXfrequency, &QLineEdit::textChanged, this, &Form1::TXfrequency_Change);
    connect(readid, &QPushButton::clicked, this, &Form1::readid_Click);
    connect(writeid, &QPushButton::clicked, this, &Form1::writeid_Click);
    connect(readdatarate, &QPushButton::clicked, this, &Form1::readdatarate_Click);
    connect(writedatarate, &QPushButton::clicked, this, &Form1::writedatarate_Click);
    connect(readserial, &QPushButton::clicked, this, &Form1::readserial_Click);
    connect(writeserial, &QPushButton::clicked, this, &Form1::writeserial_Click);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(&m_session, &ModuleSession::accepted, this,
            [this](CommandCode code, const ModuleValue& value) { MSComm1_OnComm(code, value); });
    connect(&m_session, &ModuleSession::rejected, this,
            [this](CommandCode code) { MSComm1_OnComm(code, std::nullopt); });
    connect(&m_session, &ModuleSession::deviceLost, this, &Form1::MSComm1_DeviceLost);
    id->installEventFilter(this);
    Image1->installEventFilter(this);
}

void Form1::runStartupSequence() {
    sbaudrate->addItems(kBaudRates.texts());
    scheckbits->addItems(kParities.texts());
    for (int channel = 0; channel < kChannelCount; ++channel)
        Combo1->addItem(QString::number(channel));
    for (int level = 1; level <= kPowerLevels; ++level)
        Combo2->addItem(QString::number(level));
    datarate->addItems(kDataRates.texts());
    showInitialText(sbaudrate, QStringLiteral("9600"));
    showInitialText(scheckbits, QStringLiteral("n"));
    showInitialText(Combo1, QStringLiteral("0"));
    showInitialText(Combo2, QStringLiteral("127"));
    showInitialText(datarate, QStringLiteral("9600"));

    // Listed only now, so a listing begun early overlaps building the controls.
    renumberPorts();
    applyStartupSettings();
    setPanelText(1, QStringLiteral("Closed ") + kModuleLine);
    setCommandButtonsEnabled(false);
    readpowerlevel->setEnabled(false);
    writepowerlevel->setEnabled(false);
}

void Form1::Image1_Click() {
    m_services.launcher->openUrl(QUrl(QStringLiteral(ZENTRAVA_MAKER_URL)));
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            Image1->rect().contains(mouse->position().toPoint()))
            Image1_Click();
        return false;
    }
    if (watched == id && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Tab moves on before the key filter could discard it, while another control can take
        // the focus; the box keeps its text either way.
        const bool tab = (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                         !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (tab && focusNextPrevChild(key->key() == Qt::Key_Tab &&
                                      !(key->modifiers() & Qt::ShiftModifier)))
            return true;
        int shift = 0;
        if (key->modifiers() & Qt::ShiftModifier)
            shift |= 1;
        if (key->modifiers() & Qt::ControlModifier)
            shift |= 2;
        if (key->modifiers() & Qt::AltModifier)
            shift |= 4;
        bool handled = id_KeyDown(key->key(), shift);
        // The box's own clipboard shortcuts never act; its clipboard keys stand in for them.
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Cut) ||
            key->matches(QKeySequence::Paste))
            handled = true;
        if (!handled && !key->text().isEmpty() && key->key() != Qt::Key_Delete) {
            int keyAscii = key->text().at(0).unicode();
            handled = id_KeyPress(keyAscii);
        }
        return handled;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace zentrava
