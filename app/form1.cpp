#include "form1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "drive_list.h"
#include "folder_list.h"
#include "file_chooser.h"
#include "page_bar.h"
#include "shell_rules.h"
#include "ui_rules.h"
#include "tab_header.h"

// Resources of a static library need a reference to be linked in.
static void initKestroResources() {
    Q_INIT_RESOURCE(kestro);
}

#ifndef KESTRO_VERSION
#define KESTRO_VERSION "0.0.0"
#endif

namespace kestro {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QFrame* verticalLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void keepPlaceWhenHidden(QWidget* w) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
}

QMessageBox::Icon boxIcon(Icon icon) {
    switch (icon) {
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::Critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// The text of a range's Begin (side 0) or End (side 1) bar at a page.
QString selectorText(int side, int page) {
    return qs(side == 0 ? shell::beginText(page) : shell::endText(page));
}

// Runs handler once per settled value of the bar: not while the thumb is dragged, once when it
// is let go.
void whenSettled(QObject* context, QScrollBar* bar, const std::function<void()>& handler) {
    auto pressedAt = std::make_shared<int>(bar->value());
    QObject::connect(bar, &QScrollBar::sliderPressed, context,
                     [bar, pressedAt] { *pressedAt = bar->value(); });
    QObject::connect(bar, &QScrollBar::valueChanged, context, [bar, handler] {
        if (!bar->isSliderDown()) {
            handler();
        }
    });
    QObject::connect(bar, &QScrollBar::sliderReleased, context, [bar, pressedAt, handler] {
        if (bar->value() != *pressedAt) {
            handler();
        }
    });
}

}  // namespace

const QStringList& Form1::pageCaptions() {
    static const QStringList captions = {QStringLiteral("Comm Port"), QStringLiteral("Config Regs"),
                                         QStringLiteral("Eeprom"),    QStringLiteral("Eprom"),
                                         QStringLiteral("External"),  QStringLiteral("Xicor"),
                                         QStringLiteral("Dump"),      QStringLiteral("Misc")};
    return captions;
}

// One end of an address range, as the store and the operations know it.
struct Form1::RangeEnd {
    const char* name;    // the range text's name, also its settings key
    const char* barKey;  // the settings key of the bar's page
    const char* barName;
    const char* labelName;  // the address under the bar
    const char* captionName;
    int page;  // where the bar starts
};

// The columns and rows of operation buttons.
enum class Form1::Group {
    Comm,
    Config,
    Eeprom,
    Eprom,
    ExtRam,
    ExtEeprom,
    XiSfr,
    XiEem,
    XiBpr,
    XiTools,
    Dump
};

Form1::Form1(LinkState& link, QSettings& settings, QWidget* parent)
    : QWidget(parent), link_(link), settings_(settings) {
    initKestroResources();
    installTabAccessibility();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestro"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    QFont base = font();
    base.setPointSizeF(8.25);
    setFont(base);

    const QScreen* screen = QGuiApplication::primaryScreen();
    dpi_ = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
    setFixedSize(px(kWidthTwips), px(kHeightTwips));

    QIcon icon;
    {
        QSvgRenderer renderer(QStringLiteral(":/kestro/icon.svg"));
        for (int size : {16, 24, 32, 48, 64, 128}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            icon.addPixmap(pixmap);
        }
    }
    setWindowIcon(icon);
    QGuiApplication::setWindowIcon(icon);

    // The EEPROM, EPROM and Dump ranges, Begin then End.
    static constexpr RangeEnd kRanges[3][2] = {
        {{"EEpromBegin", "SCEEpromBegin", "ScEepromBegin", "LEepromBegin", "Label2", 182},
         {"EEpromEnd", "SCEEpromEnd", "ScEepromEnd", "LEepromEnd", "Label3", 183}},
        {{"EpromBegin", "SCEpromBegin", "ScEpromBegin", "LEpromBegin", "Label6", 208},
         {"EpromEnd", "SCEpromEnd", "ScEpromEnd", "LEpromEnd", "Label7", 255}},
        {{"DumpBegin", "SCDumpBegin", "ScDumpBegin", "LEdumpBegin", "Label25", 182},
         {"DumpEnd", "SCDumpEnd", "ScDumpEnd", "LEdumpEnd", "Label24", 183}},
    };
    for (int r = 0; r < 3; ++r) {
        for (int side = 0; side < 2; ++side) {
            ranges_[r][side].row = &kRanges[r][side];
            ranges_[r][side].text = selectorText(side, kRanges[r][side].page);
        }
    }

    tabControl_ = new QWidget(this);
    tabControl_->setObjectName(QStringLiteral("SSTab1"));
    tabControl_->setAccessibleName(QStringLiteral("Pages"));
    tabControl_->setGeometry(0, 0, px(kWidthTwips), px(4935));
    auto* tabLayout = new QVBoxLayout(tabControl_);
    tabLayout->setContentsMargins(px(45), px(45), px(45), 0);
    tabLayout->setSpacing(0);
    tabs_ = new TabHeader(pageCaptions(), tabControl_);
    tabs_->setObjectName(QStringLiteral("SSTab1Tabs"));
    pages_ = new QStackedWidget(tabControl_);
    pages_->setObjectName(QStringLiteral("SSTab1Pages"));
    pages_->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    tabLayout->addWidget(tabs_);
    tabLayout->addWidget(pages_, 1);

    const std::array<QWidget*, 8> pages = {
        buildCommPage(),     buildConfigPage(), buildRangePage(0), buildRangePage(1),
        buildExternalPage(), buildXicorPage(),  buildDumpPage(),   buildMiscPage()};
    for (int i = 0; i < static_cast<int>(pages.size()); ++i) {
        // A page is named after its tab: "Comm Port" is PageCommPort.
        const QString& caption = pageCaptions().at(i);
        pages[i]->setObjectName(QStringLiteral("Page") + QString(caption).remove(QLatin1Char(' ')));
        pages[i]->setAccessibleName(caption);
        pages_->addWidget(pages[i]);
    }
    connect(tabs_, &TabHeader::currentChanged, pages_, &QStackedWidget::setCurrentIndex);
    // Created last, the strip comes last in the keyboard order: the page tabs, the controls of
    // the page shown, then Disconnect, Exit and Connect.
    buildStrip();
}

Form1::~Form1() = default;

int Form1::px(int twips) const {
    return shell::twipsToPixels(twips, dpi_);
}

QPushButton* Form1::makeButton(QWidget* parent, const char* name, const char* caption,
                               const char* tip) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setToolTip(QString::fromUtf8(tip));
    button->setAccessibleDescription(QString::fromUtf8(tip));
    return button;
}

void Form1::addButtons(QBoxLayout* box, QWidget* parent, Group group, int minWidthTwips,
                       Qt::Alignment align) {
    // The operation buttons, column by column; gap: the space above a button, in twips.
    struct Row {
        Group group;
        const char* name;
        const char* caption;
        const char* tip;
        int gap;
    };
    static constexpr Row kButtons[] = {
        {Group::Comm, "TestComm", "Test Comm",
         "Check the communictaion with your HC11 before anything", 0},
        {Group::Config, "ConfigProgram", "Program", "Program the config register with this setting",
         0},
        {Group::Eeprom, "EepromCheck", "Check Stat",
         "Check is there is data in the internal EEprom of your HC11", 0},
        {Group::Eeprom, "EepromErase", "Erase", "Erase the internal EEprom of your HC11", 0},
        {Group::Eeprom, "EepromProgram", "Program",
         "Program the internal EEprom your a HC11 with a S19 file", 240},
        {Group::Eeprom, "EepromCompare", "Compare",
         "Compare the internal EEprom of your HC11 with a S19 file", 0},
        {Group::Eprom, "EpromCheck", "Check Stat",
         "Check is there is data in the internal Eprom of your HC11", 0},
        {Group::Eprom, "EpromProgram", "Program",
         "Program the internal Eprom of your HC11 with a S19 file", 240},
        {Group::Eprom, "EpromCompare", "Compare",
         "Compare the internal Eprom of your HC11 with a S19 file", 0},
        {Group::ExtRam, "ExtRam", "Download",
         "Download a S19 file in External RAM and execute this code at the \"Start Adress\"", 0},
        {Group::ExtEeprom, "ExtEEprog", "Program", "Program external EEprom with a S19 file", 0},
        {Group::ExtEeprom, "ExtEEcomp", "Compare", "Compare external EEprom with a S19 file", 0},
        {Group::XiSfr, "XISFR", "Prog. SFR",
         "Program the SFR memory map location (SFR:Xicor register location)", 0},
        {Group::XiEem, "XIeem", "Prog. EEM",
         "Program the EEM memory map location (EEM:Xicor EEprom location)", 0},
        {Group::XiBpr, "XIBPR", "Prog. BPR", "Program the BPR (BPR:Xicor EEprom block protection)",
         0},
        {Group::XiTools, "XISDPoff", "SDP off",
         "Disable Software Data Protection of the Xicor. You must do this before any Xicor "
         "operation",
         0},
        {Group::XiTools, "Xiprog", "Program", "Program Xicor EEprom with a S19 file", 120},
        {Group::XiTools, "Xicomp", "Compare", "Compare Xicor EEprom with a S19 file", 0},
        {Group::XiTools, "XIreset", "Reset", "Reset will try to restore default Xicor value", 120},
        {Group::Dump, "DumpStart", "Start Dump", "Create a S19 file from HC11 memory", 0},
    };
    for (const Row& row : kButtons) {
        if (row.group != group) {
            continue;
        }
        if (row.gap > 0) {
            box->addSpacing(px(row.gap));
        }
        QPushButton* button = makeButton(parent, row.name, row.caption, row.tip);
        if (minWidthTwips > 0) {
            button->setMinimumWidth(px(minWidthTwips));
        }
        connect(button, &QPushButton::clicked, this,
                [this, name = button->objectName()] { runOperation(name); });
        box->addWidget(button, 0, align);
    }
}

QLabel* Form1::makeLabel(QWidget* parent, const char* name, const QString& caption,
                         double pointSize, bool bold, Qt::Alignment align) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    if (pointSize > 0 || bold) {
        QFont f = label->font();
        if (pointSize > 0) {
            f.setPointSizeF(pointSize);
        }
        f.setBold(bold);
        label->setFont(f);
    }
    if (align) {
        label->setAlignment(align);
    }
    return label;
}

QLabel* Form1::makePicture(QWidget* parent, const char* name, const char* resource, int sizePx,
                           const QString& accessibleName) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QString::fromLatin1(name));
    const qreal ratio = devicePixelRatioF();
    QSvgRenderer renderer(QString::fromLatin1(resource));
    QSize size = renderer.defaultSize();
    size.scale(sizePx, sizePx, Qt::KeepAspectRatio);
    QPixmap pixmap(size * ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(ratio);
    picture->setPixmap(pixmap);
    picture->setAlignment(Qt::AlignCenter);
    picture->setAccessibleName(accessibleName);
    return picture;
}

QCheckBox* Form1::makeCheck(QWidget* parent, const char* name, const char* caption,
                            const char* tip) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    if (tip != nullptr) {
        box->setToolTip(QString::fromUtf8(tip));
        box->setAccessibleDescription(QString::fromUtf8(tip));
    }
    return box;
}

void Form1::addProgressBar(QBoxLayout* box, QWidget* parent, int index) {
    static constexpr const char* kNames[] = {"EepromBar", "EpromBar", "RamBar", "xibar"};
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(kNames[index]));
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    bar->setAccessibleName(QStringLiteral("Progress"));
    keepPlaceWhenHidden(bar);
    bar->hide();
    box->addWidget(bar);
    bars_[index] = bar;
}

QWidget* Form1::rangeColumns(QWidget* parent, Range& range) {
    auto* box = new QWidget(parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(px(120));
    for (int side = 0; side < 2; ++side) {
        Selector& s = range[side];
        auto* caption = makeLabel(box, s.row->captionName,
                                  side == 0 ? QStringLiteral("Begin") : QStringLiteral("End"), 0,
                                  false, Qt::AlignCenter);
        s.bar = new PageBar(255, 16, s.row->page, box);
        s.bar->setObjectName(QString::fromLatin1(s.row->barName));
        s.bar->setMinimumHeight(px(2000));
        s.bar->setFixedWidth(qMax(s.bar->sizeHint().width(), px(255)));
        s.bar->setAccessibleName(caption->text() + QStringLiteral(" page"));
        caption->setBuddy(s.bar);
        whenSettled(this, s.bar, [this, &range, side] { rangeMoved(range, side); });
        s.label = makeLabel(box, s.row->labelName, QStringLiteral("$") + s.text, 0, false,
                            Qt::AlignCenter);
        s.label->setMinimumWidth(
            s.label->fontMetrics().horizontalAdvance(QStringLiteral("$FFFFF")));
        grid->addWidget(caption, 0, side, Qt::AlignHCenter);
        grid->addWidget(s.bar, 1, side, Qt::AlignHCenter);
        grid->addWidget(s.label, 2, side, Qt::AlignHCenter);
    }
    grid->setRowStretch(1, 1);
    return box;
}

// ---- pages ---------------------------------------------------------------------------------

QWidget* Form1::buildCommPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(makeLabel(page, "Label1", QStringLiteral("Communication Port"), 12, false,
                                Qt::AlignCenter));
    layout->addSpacing(px(120));

    auto* radios = new QHBoxLayout;
    radios->addStretch();
    commGroup_ = new QButtonGroup(page);
    commGroup_->setExclusive(true);
    for (int n = 1; n <= LinkState::kPorts; ++n) {
        auto* radio = new QRadioButton(QStringLiteral("Comm %1").arg(n), page);
        radio->setObjectName(QStringLiteral("Comm%1").arg(n));
        const QString device = qs(link_.port().deviceName(n));
        radio->setToolTip(device);
        radio->setAccessibleDescription(device);
        commGroup_->addButton(radio, n);
        radios->addWidget(radio);
        if (n < LinkState::kPorts) {
            radios->addSpacing(px(240));
        }
        comm_[n - 1] = radio;
    }
    radios->addStretch();
    comm_[0]->setChecked(true);
    // The user checking a button changes the port once, however it was checked: mouse,
    // keyboard or a screen reader's toggle. A click on the button already checked reopens its
    // port. The program's own choice (selectComm) never changes it.
    connect(commGroup_, &QButtonGroup::idPressed, this,
            [this](int n) { commWasChecked_ = comm_[n - 1]->isChecked(); });
    connect(commGroup_, &QButtonGroup::idToggled, this, [this](int n, bool checked) {
        if (checked) {
            link_.changePort(n);
        }
    });
    connect(commGroup_, &QButtonGroup::idClicked, this, [this](int n) {
        if (std::exchange(commWasChecked_, false)) {
            link_.changePort(n);
        }
    });
    layout->addLayout(radios);
    layout->addSpacing(px(240));

    commUseImg_ = makePicture(page, "CommUseIMG", ":/kestro/port_in_use.svg", px(600),
                              QStringLiteral("Port in use"));
    commUseTxt_ = makeLabel(page, "CommUseTXT", QStringLiteral("CommPort already in use"), 9.75,
                            true, Qt::AlignHCenter | Qt::AlignTop);
    commUseTxt_->setWordWrap(true);
    commUseTxt_->setMinimumHeight(commUseTxt_->fontMetrics().lineSpacing() * 2);
    for (QWidget* w : {static_cast<QWidget*>(commUseImg_), static_cast<QWidget*>(commUseTxt_)}) {
        keepPlaceWhenHidden(w);
        w->hide();
        layout->addWidget(w);
    }
    layout->addStretch();
    addButtons(layout, page, Group::Comm, 1800, Qt::AlignHCenter);
    layout->addSpacing(px(120));
    return page;
}

QWidget* Form1::buildConfigPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;

    auto* checks = new QVBoxLayout;
    const char* captions[] = {"EEprom ON", "Rom ON", "No COP", "No SEC"};
    const char* tips[] = {"Check to enable internal EEprom of your HC11",
                          "Check to enable internal Rom of your HC11",
                          "Check to disable COP watch dog function of your HC11",
                          "Check to disable the security feature of your HC11"};
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "Config" + QByteArray::number(i + 1);
        config_[i] = makeCheck(page, name.constData(), captions[i], tips[i]);
        checks->addWidget(config_[i]);
    }
    checks->addStretch();

    auto* location = new QVBoxLayout;
    auto* label4 = makeLabel(page, "Label4", QStringLiteral("HC811 Only"));
    config5_ = new QComboBox(page);
    config5_->setObjectName(QStringLiteral("Config5"));
    config5_->setEditable(true);
    // What the user types is used as typed; the list stays the sixteen places of the chip.
    config5_->setInsertPolicy(QComboBox::NoInsert);
    config5_->setToolTip(QStringLiteral("Set the EEprom location of a HC811E2"));
    config5_->setAccessibleName(QStringLiteral("HC811 Only"));
    config5_->setAccessibleDescription(config5_->toolTip());
    config5_->setEditText(QStringLiteral("$F800-$FFFF"));
    config5_->setMinimumWidth(px(1700));
    label4->setBuddy(config5_);
    location->addWidget(label4);
    location->addWidget(config5_);
    location->addStretch();

    row->addSpacing(px(240));
    row->addLayout(checks);
    row->addStretch();
    row->addLayout(location);
    row->addSpacing(px(240));
    layout->addSpacing(px(120));
    layout->addLayout(row, 1);
    addButtons(layout, page, Group::Config, 1500, Qt::AlignHCenter);
    layout->addSpacing(px(120));
    return page;
}

// The EEPROM and EPROM pages: the range's bars beside the page's column of operations.
QWidget* Form1::buildRangePage(int index) {
    static constexpr Group kColumns[] = {Group::Eeprom, Group::Eprom};
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addSpacing(px(480));
    row->addWidget(rangeColumns(page, ranges_[index]));
    row->addStretch();
    auto* buttons = new QVBoxLayout;
    addButtons(buttons, page, kColumns[index], 1500);
    buttons->addStretch();
    row->addLayout(buttons);
    row->addSpacing(px(240));
    layout->addLayout(row, 1);
    addProgressBar(layout, page, index);
    return page;
}

QWidget* Form1::buildExternalPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;

    auto* left = new QVBoxLayout;
    left->addWidget(
        makeLabel(page, "Label19", QStringLiteral("Ext. RAM"), 18, false, Qt::AlignCenter));
    addButtons(left, page, Group::ExtRam, 1500, Qt::AlignHCenter);
    left->addSpacing(px(240));
    auto* label16 =
        makeLabel(page, "Label16", QStringLiteral("Start Adress"), 12, true, Qt::AlignCenter);
    left->addWidget(label16);
    startAdress_ = new QLineEdit(QStringLiteral("2000"), page);
    startAdress_->setObjectName(QStringLiteral("StartAdress"));
    startAdress_->setAccessibleName(QStringLiteral("Start Adress"));
    QFont big = startAdress_->font();
    big.setPointSizeF(13.5);
    startAdress_->setFont(big);
    startAdress_->setAlignment(Qt::AlignCenter);
    startAdress_->setFixedWidth(
        startAdress_->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWW")) + 12);
    label16->setBuddy(startAdress_);
    left->addWidget(startAdress_, 0, Qt::AlignHCenter);
    left->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(
        makeLabel(page, "Label20", QStringLiteral("Ext. EEprom"), 18, false, Qt::AlignCenter));
    addButtons(right, page, Group::ExtEeprom, 1500, Qt::AlignHCenter);
    right->addStretch();

    row->addLayout(left, 1);
    row->addWidget(verticalLine(page));
    row->addLayout(right, 1);
    layout->addLayout(row, 1);
    addProgressBar(layout, page, 2);
    return page;
}

QWidget* Form1::buildXicorPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(px(60), px(90), px(60), px(90));
    auto* row = new QHBoxLayout;
    row->setSpacing(px(60));
    auto heading = [&](const char* name, const char* caption) {
        return makeLabel(page, name, QString::fromLatin1(caption), 0, true, Qt::AlignCenter);
    };

    auto* sfr = new QVBoxLayout;
    auto* label17 = heading("Label17", "SFR");
    sfr->addWidget(label17);
    xiScSfr_ = new PageBar(64, 1, 64, page);
    xiScSfr_->setObjectName(QStringLiteral("XIscSFR"));
    xiScSfr_->setAccessibleName(QStringLiteral("SFR location"));
    xiScSfr_->setFixedWidth(qMax(xiScSfr_->sizeHint().width(), px(255)));
    label17->setBuddy(xiScSfr_);
    sfr->addWidget(xiScSfr_, 1, Qt::AlignHCenter);
    xiLeSfr_ = makeLabel(page, "XIleSFR", QStringLiteral("$0400"), 0, false, Qt::AlignCenter);
    sfr->addWidget(xiLeSfr_);
    addButtons(sfr, page, Group::XiSfr);
    whenSettled(this, xiScSfr_, [this] { sfrChanged(); });

    auto* eem = new QVBoxLayout;
    auto* label18 = heading("Label18", "EEM");
    eem->addWidget(label18);
    xiEemMap_ = new QComboBox(page);
    xiEemMap_->setObjectName(QStringLiteral("XIEEMmap"));
    xiEemMap_->setEditable(true);
    xiEemMap_->setInsertPolicy(QComboBox::NoInsert);  // the eight blocks, whatever is typed
    xiEemMap_->setAccessibleName(QStringLiteral("EEM"));
    xiEemMap_->setEditText(QStringLiteral("$E000-$FFFF"));
    xiEemMap_->setMinimumContentsLength(11);
    xiEemMap_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    label18->setBuddy(xiEemMap_);
    eem->addWidget(xiEemMap_);
    xiEemLam_ = makeCheck(page, "XIEEMLAM", "PB LAM", "Xicor port B is low address byte (A7-A0)");
    xiEemRes_ = makeCheck(page, "XIEEMres", "Reset HI", "Xicor reset active hi");
    eem->addWidget(xiEemLam_);
    eem->addWidget(xiEemRes_);
    eem->addStretch();
    addButtons(eem, page, Group::XiEem);

    auto* bpr = new QVBoxLayout;
    bpr->setSpacing(0);
    bpr->addWidget(heading("Label22", "BPR"));
    for (int n = 7; n >= 0; --n) {
        const QByteArray name = "XIBPR" + QByteArray::number(n);
        const QString caption = QStringLiteral("$%1-$%2")
                                    .arg(n * 0x400, 4, 16, QLatin1Char('0'))
                                    .arg(n * 0x400 + 0x3FF, 4, 16, QLatin1Char('0'))
                                    .toUpper();
        xiBpr_[n] = makeCheck(page, name.constData(), caption.toUtf8().constData());
        bpr->addWidget(xiBpr_[n]);
    }
    bpr->addStretch();
    addButtons(bpr, page, Group::XiBpr);

    auto* tools = new QVBoxLayout;
    auto* label10 = heading("Label10", "Xicor EEprom tools");
    label10->setWordWrap(true);
    tools->addWidget(label10);
    addButtons(tools, page, Group::XiTools);
    tools->addStretch();

    row->addLayout(sfr);
    row->addLayout(eem);
    row->addWidget(verticalLine(page));
    row->addLayout(bpr);
    row->addWidget(verticalLine(page));
    row->addLayout(tools);
    layout->addLayout(row, 1);
    addProgressBar(layout, page, 3);
    return page;
}

QWidget* Form1::buildDumpPage() {
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->addWidget(rangeColumns(page, ranges_[2]));
    layout->addSpacing(px(120));

    auto* right = new QVBoxLayout;
    dumpDrive_ = new DriveList(page);
    dumpDrive_->setObjectName(QStringLiteral("DumpDrive"));
    dumpDrive_->setAccessibleName(QStringLiteral("Dump drive"));
    dumpDir_ = new FolderList(page);
    dumpDir_->setObjectName(QStringLiteral("DumpDir"));
    dumpDir_->setAccessibleName(QStringLiteral("Dump folder"));
    dumpDir_->setPath(DriveList::homeFolder());
    right->addWidget(dumpDrive_);
    right->addWidget(dumpDir_, 1);

    auto* fileRow = new QHBoxLayout;
    auto* dumpfile = new QLineEdit(QStringLiteral("upload.s19"), page);
    dumpfile->setObjectName(QStringLiteral("Dumpfile"));
    dumpfile->setReadOnly(true);
    dumpfile->setAccessibleName(QStringLiteral("Dump file"));
    fileRow->addWidget(dumpfile, 1);
    addButtons(fileRow, page, Group::Dump);
    right->addLayout(fileRow);

    auto* warning = makeLabel(page, "DumpWarning", QStringLiteral("That could be VERY LONG"), 0,
                              true, Qt::AlignCenter);
    QPalette red = warning->palette();
    red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    warning->setPalette(red);
    keepPlaceWhenHidden(warning);
    warning->hide();
    right->addWidget(warning);
    layout->addLayout(right, 1);

    connect(dumpDir_, &FolderList::pathChanged, this, &Form1::dumpFolderChanged);
    connect(dumpDrive_, &DriveList::driveChanged, this, &Form1::dumpDriveChanged);
    return page;
}

QWidget* Form1::buildMiscPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addWidget(
        makePicture(page, "MiscPicture", ":/kestro/logo.svg", px(2200), QStringLiteral("Kestro")));
    auto* text = new QVBoxLayout;
    text->addWidget(makeLabel(page, "MiscName", QStringLiteral("Kestro"), 20, true));
    auto* line = makeLabel(page, "MiscText",
                           QStringLiteral("Loads, programs, verifies and reads the memories of a "
                                          "Motorola 68HC11 through its serial bootstrap mode."));
    line->setWordWrap(true);
    text->addWidget(line);
    text->addWidget(makeLabel(page, "MiscVersion",
                              QStringLiteral("Version %1").arg(QStringLiteral(KESTRO_VERSION))));
    text->addStretch();
    row->addLayout(text, 1);
    layout->addLayout(row, 1);

    auto* buttons = new QHBoxLayout;
    auto* help = makeButton(page, "help", "Help", "Real help");
    auto* about = makeButton(page, "About", "About", "Check your Kestro version");
    connect(help, &QPushButton::clicked, this, &Form1::helpClicked);
    connect(about, &QPushButton::clicked, this, &Form1::aboutClicked);
    for (auto* b : {help, about}) {
        b->setMinimumWidth(px(1300));
    }
    buttons->addStretch();
    buttons->addWidget(help);
    buttons->addSpacing(px(360));
    buttons->addWidget(about);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addSpacing(px(120));
    return page;
}

void Form1::buildStrip() {
    auto place = [this](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(px(left), px(top), px(width), px(height));
    };
    resetPrompt_ = {
        makeLabel(this, "ResetTXT1", QStringLiteral("Reset Your"), 12, false, Qt::AlignCenter),
        makeLabel(this, "ResetTXT2", QStringLiteral("HC11"), 12, false, Qt::AlignCenter),
        makePicture(this, "ResetIMG", ":/kestro/reset.svg", px(640),
                    QStringLiteral("Reset the HC11"))};
    place(resetPrompt_[0], 120, 4990, 1900, 330);
    place(resetPrompt_[1], 120, 5300, 1900, 330);
    place(resetPrompt_[2], 750, 5640, 640, 640);

    picDisconnect_ = makePicture(this, "pic_disconnect", ":/kestro/disconnected.svg", px(640),
                                 QStringLiteral("Port closed"));
    place(picDisconnect_, 2725, 5000, 640, 640);
    picDisconnect_->hide();
    disconnectReason_ =
        makeLabel(this, "DisconnectReason", QString(), 7, false, Qt::AlignHCenter | Qt::AlignTop);
    disconnectReason_->setWordWrap(true);
    place(disconnectReason_, 2040, 5650, 2010, 690);
    disconnectReason_->hide();

    image1_ =
        makePicture(this, "Image1", ":/kestro/not_ready.svg", px(640), QStringLiteral("Not Ready"));
    image2_ = makePicture(this, "Image2", ":/kestro/ready.svg", px(640), QStringLiteral("Ready"));
    place(image1_, 4600, 5000, 640, 640);
    place(image2_, 4600, 5000, 640, 640);
    image2_->hide();
    hc11Stat_ =
        makeLabel(this, "HC11Stat", QStringLiteral("Not Ready"), 12, false, Qt::AlignCenter);
    place(hc11Stat_, 4020, 5660, 1800, 400);

    auto* disconnect =
        makeButton(this, "Disconnect", "Disconnect", "Disconnect Kestro from your comport");
    auto* exitButton = makeButton(this, "Exit", "Exit", "Exit Kestro");
    auto* connectButton = makeButton(this, "Connect", "Connect", "Connect Kestro to your comport");
    place(disconnect, 720, 6360, 1215, 375);
    place(exitButton, 2160, 6360, 1695, 375);
    place(connectButton, 4320, 6360, 1215, 375);
    connect(disconnect, &QPushButton::clicked, this, [this] { link_.disconnect(); });
    connect(connectButton, &QPushButton::clicked, this, [this] { link_.connect(); });
    connect(exitButton, &QPushButton::clicked, this, &Form1::exitClicked);
}

// ---- start-up and settings -----------------------------------------------------------------

void Form1::startup() {
    for (int k = 0; k < 16; ++k) {
        const QString digit = QString::number(k, 16).toUpper();
        config5_->addItem(QLatin1Char('$') + digit + QStringLiteral("800-$") + digit +
                          QStringLiteral("FFF"));
    }
    config5_->setEditText(QStringLiteral("$F800-$FFFF"));
    for (int k = 0; k < 8; ++k) {
        xiEemMap_->addItem(QStringLiteral("$%1-$%2")
                               .arg(k * 0x2000, 4, 16, QLatin1Char('0'))
                               .arg(k * 0x2000 + 0x1FFF, 4, 16, QLatin1Char('0'))
                               .toUpper());
    }
    xiEemMap_->setEditText(QStringLiteral("$E000-$FFFF"));
    setWindowTitle(QStringLiteral("Kestro Ver:") + QStringLiteral(KESTRO_VERSION));
    restoreSettings();
    showPage(0);
    exeDir_ = QCoreApplication::applicationDirPath();
    link_.startupSearch();

    const QScreen* screen =
        this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect area = screen->geometry();
        const auto at = shell::placeWindow(shell::pixelsToTwips(area.width(), dpi_),
                                           shell::pixelsToTwips(area.height(), dpi_), kWidthTwips,
                                           kHeightTwips);
        move(area.left() + px(at.left), area.top() + px(at.top));
    }
}

void Form1::restoreSettings() {
    for (Range& r : ranges_) {
        for (int side = 0; side < 2; ++side) {
            const RangeEnd& row = *r[side].row;
            // A text that is no range text would be shown and sent as it stands.
            const QString fallback = selectorText(side, row.page);
            const QString text = settings_.text(row.name, fallback);
            const std::string checked = text.toStdString();
            r[side].text = (side == 0 ? shell::isBeginText(checked) : shell::isEndText(checked))
                               ? text
                               : fallback;
        }
    }
    sfrText_ = settings_.text("SFR", QStringLiteral("0400"));

    for (Range& r : ranges_) {
        for (Selector& s : r) {
            s.label->setText(QStringLiteral("$") + s.text);
        }
    }
    xiLeSfr_->setText(QStringLiteral("$") + sfrText_);

    // Each bar that moves runs its change handler, which may push the End bar of its pair.
    for (Range& r : ranges_) {
        for (Selector& s : r) {
            s.bar->setValue(settings_.number(s.row->barKey, 0, 255, s.row->page));
        }
    }
    xiScSfr_->setValue(settings_.number("SCsfr", 0, 64, 4));

    for (int i = 0; i < 4; ++i) {
        const QByteArray key = "ValueConfig" + QByteArray::number(i + 1);
        config_[i]->setChecked(settings_.number(key.constData(), 0, 1, 0) == 1);
    }

    const QString folder = settings_.text("dumpdir", DriveList::homeFolder());
    if (folder != dumpDir_->path() && !dumpDir_->setPath(folder)) {
        dumpDriveFallback();
    }
    const QString drive = settings_.text("dumpdrive", DriveList::homeDrive());
    if (drive != dumpDrive_->drive() && !dumpDrive_->setDrive(drive)) {
        dumpDriveFallback();
    }

    startAdress_->setText(settings_.text("StartAdress", QStringLiteral("2000")));
}

void Form1::saveSettings() {
    for (const Range& r : ranges_) {
        for (const Selector& s : r) {
            settings_.setText(s.row->name, s.text);
        }
    }
    settings_.setText("SFR", sfrText_);
    for (const Range& r : ranges_) {
        for (const Selector& s : r) {
            settings_.setNumber(s.row->barKey, s.bar->value());
        }
    }
    settings_.setNumber("SCsfr", xiScSfr_->value());
    for (int i = 0; i < 4; ++i) {
        const QByteArray key = "ValueConfig" + QByteArray::number(i + 1);
        settings_.setNumber(key.constData(), config_[i]->isChecked() ? 1 : 0);
    }
    settings_.setText("StartAdress", startAdress_->text());
    // The port map is written out once so that users find it in their settings file.
    QSettings& store = settings_.store();
    store.beginGroup(QStringLiteral("ports"));
    for (int n = 1; n <= LinkState::kPorts; ++n) {
        const QString key = QStringLiteral("Comm%1").arg(n);
        if (!store.contains(key)) {
            store.setValue(key, QStringLiteral("/dev/ttyS%1").arg(n - 1));
        }
    }
    store.endGroup();
    if (const auto failure = settings_.sync(); failure && !settingsFailureTold_) {
        settingsFailureTold_ = true;
        message({failure->toStdString(), kAppTitle, Icon::Exclamation,
                 "The ranges, CONFIG choices and start address of this run are not kept for the "
                 "next one."});
    }
}

void Form1::endSession() {
    saveSettings();
    if (busy_) {
        closePending_ = true;
        return;
    }
    exitClicked();
}

// ---- range selectors -----------------------------------------------------------------------

void Form1::rangeMoved(Range& r, int side) {
    Selector& s = r[side];
    s.text = selectorText(side, s.bar->value());
    s.label->setText(qs(shell::rangeLabel(s.text.toStdString())));
    if (const auto end = shell::correctedEnd(r[0].bar->value(), r[1].bar->value())) {
        r[1].bar->setValue(*end);
    }
}

void Form1::sfrChanged() {
    const int position = xiScSfr_->value();
    sfrText_ = qs(shell::sfrText(position));
    xiLeSfr_->setText(qs(shell::sfrLabel(position)));
}

QString Form1::rangeText(const char* name) const {
    for (const Range& r : ranges_) {
        for (const Selector& s : r) {
            if (qstrcmp(name, s.row->name) == 0) {
                return s.text;
            }
        }
    }
    return {};
}

// ---- dump folder ---------------------------------------------------------------------------

void Form1::dumpFolderChanged(const QString& folder) {
    settings_.setText("dumpdir", folder);
}

void Form1::dumpDriveChanged(const QString& drive) {
    settings_.setText("dumpdrive", drive);
    // The folder list stays where it is when it already lies on the chosen drive.
    if (DriveList::driveOf(dumpDir_->path()) != drive && !dumpDir_->setPath(drive)) {
        dumpDriveFallback();
    }
}

void Form1::dumpDriveFallback() {
    {
        const QSignalBlocker block(dumpDrive_);
        dumpDrive_->setDrive(DriveList::homeDrive());
    }
    dumpDir_->setPath(DriveList::homeFolder());
    // Both are written even when the lists were already there, so that a folder that has gone
    // does not stay in the store.
    settings_.setText("dumpdir", dumpDir_->path());
    settings_.setText("dumpdrive", dumpDrive_->drive());
}

// ---- pages ---------------------------------------------------------------------------------

int Form1::currentPage() const {
    return tabs_->currentIndex();
}

void Form1::showPage(int index) {
    tabs_->setCurrentIndex(index);
}

// ---- operations ----------------------------------------------------------------------------

ops::Inputs Form1::inputs() const {
    ops::Inputs in;
    in.eepromBegin = ranges_[0][0].text.toStdString();
    in.eepromEnd = ranges_[0][1].text.toStdString();
    in.epromBegin = ranges_[1][0].text.toStdString();
    in.epromEnd = ranges_[1][1].text.toStdString();
    in.dumpBegin = ranges_[2][0].text.toStdString();
    in.dumpEnd = ranges_[2][1].text.toStdString();
    for (int i = 0; i < 4; ++i) {
        switch (config_[i]->checkState()) {
            case Qt::Unchecked:
                in.config[i] = 0;
                break;
            case Qt::Checked:
                in.config[i] = 1;
                break;
            case Qt::PartiallyChecked:
                in.config[i] = 2;
                break;
        }
    }
    in.config5Text = config5_->currentText().toStdString();
    in.startAddress = startAdress_->text().toStdString();
    in.sfrPosition = xiScSfr_->value();
    in.eemMapText = xiEemMap_->currentText().toStdString();
    in.eemLam = xiEemLam_->isChecked();
    in.eemRes = xiEemRes_->isChecked();
    for (int n = 0; n < 8; ++n) {
        in.bpr[n] = xiBpr_[n]->isChecked();
    }
    in.dumpFolder = std::filesystem::path(QFile::encodeName(dumpDir_->path()).toStdString());
    return in;
}

void Form1::runOperation(const QString& button) {
    if (busy_) {
        return;
    }
    const ops::Operation operation = ops::operationFor(button.toStdString());
    if (!operation) {
        return;
    }
    busy_ = true;
    Target target{link_, *this,
                  std::filesystem::path(QFile::encodeName(exeDir_).toStdString()) / "asm"};
    try {
        operation(target, inputs());
    } catch (const std::exception& e) {
        // The frame ends its runs itself; this only keeps a fault from taking the window down.
        message({e.what(), kAppTitle, Icon::Critical});
        setWindowEnabled(true);
    }
    busy_ = false;
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

// ---- LinkView ------------------------------------------------------------------------------

void Form1::showReadiness(bool ready) {
    image1_->setVisible(!ready);
    image2_->setVisible(ready);
    hc11Stat_->setText(ready ? QStringLiteral("Ready") : QStringLiteral("Not Ready"));
    showResetPrompt(!ready);
}

void Form1::showResetPrompt(bool shown) {
    for (QLabel* w : resetPrompt_) {
        w->setVisible(shown);
    }
}

void Form1::showDisconnected(bool shown, const std::string& reason) {
    picDisconnect_->setVisible(shown);
    const QString text = shown ? qs(reason) : QString();
    picDisconnect_->setToolTip(text);
    picDisconnect_->setAccessibleDescription(text);
    disconnectReason_->setText(text);
    disconnectReason_->setToolTip(text);
    disconnectReason_->setVisible(shown && !text.isEmpty());
}

void Form1::showPortWarning(const std::optional<std::string>& text) {
    if (text) {
        commUseTxt_->setText(qs(*text));
        commUseTxt_->show();
        commUseImg_->show();
    } else {
        commUseTxt_->hide();
        commUseImg_->hide();
    }
}

void Form1::selectComm(int n) {
    const QSignalBlocker block(commGroup_);
    if (n >= 1 && n <= LinkState::kPorts) {
        comm_[n - 1]->setChecked(true);
        return;
    }
    commGroup_->setExclusive(false);
    for (QRadioButton* radio : comm_) {
        radio->setChecked(false);
    }
    commGroup_->setExclusive(true);
}

void Form1::message(const Message& m) {
    if (messageSink_) {
        messageSink_(m);
        return;
    }
    // Before the window first shows (the port search at start-up) the box stands on its own,
    // centred on the screen.
    QMessageBox box(boxIcon(m.icon), qs(m.title), qs(m.text), QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    if (!m.detail.empty()) {
        box.setInformativeText(qs(m.detail));
    }
    box.exec();
}

// ---- OperationUi ---------------------------------------------------------------------------

void Form1::setWindowEnabled(bool enabled) {
    setEnabled(enabled);
}

void Form1::setCaption(std::string_view button, std::string_view caption) {
    const QString name = QString::fromUtf8(button.data(), static_cast<qsizetype>(button.size()));
    if (auto* b = findChild<QAbstractButton*>(name)) {
        b->setText(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    }
}

void Form1::setProgress(std::optional<int> percent) {
    if (!percent) {
        for (QProgressBar* bar : bars_) {
            bar->hide();
        }
        return;
    }
    // Each bar takes the value of the one before it, as the first one shows it.
    bars_[0]->setValue(*percent);
    bars_[1]->setValue(bars_[0]->value());
    bars_[2]->setValue(bars_[0]->value());
    bars_[3]->setValue(bars_[2]->value());
    for (QProgressBar* bar : bars_) {
        bar->show();
    }
}

void Form1::setVisible(std::string_view control, bool visible) {
    const QString name = QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size()));
    if (auto* w = findChild<QWidget*>(name)) {
        w->setVisible(visible);
    }
}

std::string Form1::chooseFile() {
    if (chooser_) {
        return chooser_();
    }
    return FileChooser::choose(settings_.store(), this).toStdString();
}

// ---- help, about, exit ---------------------------------------------------------------------

void Form1::helpClicked() {
    const QUrl url = QUrl::fromLocalFile(exeDir_ + QStringLiteral("/help/kestro.htm"));
    if (urlOpener_) {
        urlOpener_(url);
    } else {
        QDesktopServices::openUrl(url);
    }
}

void Form1::aboutClicked() {
    message({windowTitle().toStdString(), "About", Icon::Information});
}

void Form1::exitClicked() {
    if (link_.port().isOpen()) {
        link_.port().close();
    }
    close();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // An operation holds the target; the window closes once it has ended.
        closePending_ = true;
        event->ignore();
        return;
    }
    saveSettings();
    event->accept();
    if (quitHook_) {
        quitHook_();
    }
}

}  // namespace kestro
