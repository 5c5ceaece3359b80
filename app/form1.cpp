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

#include "drive_list.h"
#include "folder_list.h"
#include "form2.h"
#include "page_bar.h"
#include "shell_rules.h"
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

}  // namespace

const QStringList& Form1::pageCaptions() {
    static const QStringList captions = {QStringLiteral("Comm Port"), QStringLiteral("Config Regs"),
                                         QStringLiteral("Eeprom"),    QStringLiteral("Eprom"),
                                         QStringLiteral("External"),  QStringLiteral("Xicor"),
                                         QStringLiteral("Dump"),      QStringLiteral("Misc")};
    return captions;
}

Form1::Form1(LinkState& link, QSettings& settings, QWidget* parent)
    : QWidget(parent),
      link_(link),
      settings_(settings),
      ranges_{Range{"EEpromBegin", "EEpromEnd", "SCEEpromBegin", "SCEEpromEnd", "ScEepromBegin",
                    "ScEepromEnd", 182, 183},
              Range{"EpromBegin", "EpromEnd", "SCEpromBegin", "SCEpromEnd", "ScEpromBegin",
                    "ScEpromEnd", 208, 255},
              Range{"DumpBegin", "DumpEnd", "SCDumpBegin", "SCDumpEnd", "ScDumpBegin", "ScDumpEnd",
                    182, 183}} {
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

    for (Range& r : ranges_) {
        r.beginText = qs(shell::beginText(r.beginDefault));
        r.endText = qs(shell::endText(r.endDefault));
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

    const std::array<QWidget*, 8> pages = {buildCommPage(),  buildConfigPage(),   buildEepromPage(),
                                           buildEpromPage(), buildExternalPage(), buildXicorPage(),
                                           buildDumpPage(),  buildMiscPage()};
    for (int i = 0; i < static_cast<int>(pages.size()); ++i) {
        pages[i]->setAccessibleName(pageCaptions().at(i));
        pages_->addWidget(pages[i]);
    }
    connect(tabs_, &TabHeader::currentChanged, pages_, &QStackedWidget::setCurrentIndex);
    for (QProgressBar* bar : bars_) {
        bar->setRange(0, 100);
        bar->setTextVisible(false);
        bar->setAccessibleName(QStringLiteral("Progress"));
        keepPlaceWhenHidden(bar);
        bar->hide();
    }
    // Created last, the strip comes last in the keyboard order: the page tabs, the controls of
    // the page shown, then Disconnect, Exit and Connect.
    buildStrip();
}

Form1::~Form1() = default;

int Form1::px(int twips) const {
    return shell::twipsToPixels(twips, dpi_);
}

QPushButton* Form1::makeButton(QWidget* parent, const char* name, const char* caption,
                               const char* tip, bool operation) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    if (tip != nullptr) {
        button->setToolTip(QString::fromUtf8(tip));
        button->setAccessibleDescription(QString::fromUtf8(tip));
    }
    if (operation) {
        const QString objectName = button->objectName();
        connect(button, &QPushButton::clicked, this,
                [this, objectName] { runOperation(objectName); });
    }
    return button;
}

QLabel* Form1::makeLabel(QWidget* parent, const char* name, const QString& caption,
                         double pointSize, bool bold) {
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

PageBar* Form1::makeRangeBar(QWidget* parent, Range& range, bool begin) {
    auto* bar = new PageBar(255, 16, begin ? range.beginDefault : range.endDefault, parent);
    bar->setObjectName(QString::fromLatin1(begin ? range.beginBarName : range.endBarName));
    bar->setMinimumHeight(px(2000));
    bar->setFixedWidth(qMax(bar->sizeHint().width(), px(255)));

    // One run of the handler per settled value: not while the thumb is dragged, once when it
    // is let go.
    auto pressedAt = std::make_shared<int>(bar->value());
    auto handler = [this, &range, begin] { begin ? beginChanged(range) : endChanged(range); };
    connect(bar, &QScrollBar::sliderPressed, this, [bar, pressedAt] { *pressedAt = bar->value(); });
    connect(bar, &QScrollBar::valueChanged, this, [bar, handler] {
        if (!bar->isSliderDown()) {
            handler();
        }
    });
    connect(bar, &QScrollBar::sliderReleased, this, [bar, pressedAt, handler] {
        if (bar->value() != *pressedAt) {
            handler();
        }
    });
    return bar;
}

QWidget* Form1::rangeColumns(QWidget* parent, Range& range, const char* beginLabelName,
                             const char* endLabelName, const char* beginCaptionName,
                             const char* endCaptionName) {
    auto* box = new QWidget(parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(px(120));
    auto* beginCaption = makeLabel(box, beginCaptionName, QStringLiteral("Begin"));
    auto* endCaption = makeLabel(box, endCaptionName, QStringLiteral("End"));
    range.beginBar = makeRangeBar(box, range, true);
    range.endBar = makeRangeBar(box, range, false);
    range.beginLabel = makeLabel(box, beginLabelName, QStringLiteral("$") + range.beginText);
    range.endLabel = makeLabel(box, endLabelName, QStringLiteral("$") + range.endText);
    int column = 0;
    for (auto [caption, bar, label] : {std::tuple{beginCaption, range.beginBar, range.beginLabel},
                                       std::tuple{endCaption, range.endBar, range.endLabel}}) {
        caption->setAlignment(Qt::AlignCenter);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("$FFFFF")));
        bar->setAccessibleName(caption->text() + QStringLiteral(" page"));
        caption->setBuddy(bar);
        grid->addWidget(caption, 0, column, Qt::AlignHCenter);
        grid->addWidget(bar, 1, column, Qt::AlignHCenter);
        grid->addWidget(label, 2, column, Qt::AlignHCenter);
        ++column;
    }
    grid->setRowStretch(1, 1);
    return box;
}

// ---- pages ---------------------------------------------------------------------------------

QWidget* Form1::buildCommPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageCommPort"));
    auto* layout = new QVBoxLayout(page);
    auto* label1 = makeLabel(page, "Label1", QStringLiteral("Communication Port"), 12);
    label1->setAlignment(Qt::AlignCenter);
    layout->addWidget(label1);
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
    // A click by the user changes the port; the program's own choice never does.
    connect(commGroup_, &QButtonGroup::idClicked, this, [this](int n) { link_.changePort(n); });
    layout->addLayout(radios);
    layout->addSpacing(px(240));

    commUseImg_ = makePicture(page, "CommUseIMG", ":/kestro/port_in_use.svg", px(600),
                              QStringLiteral("Port in use"));
    commUseTxt_ =
        makeLabel(page, "CommUseTXT", QStringLiteral("CommPort already in use"), 9.75, true);
    commUseTxt_->setWordWrap(true);
    commUseTxt_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    commUseTxt_->setMinimumHeight(commUseTxt_->fontMetrics().lineSpacing() * 2);
    for (QWidget* w : {static_cast<QWidget*>(commUseImg_), static_cast<QWidget*>(commUseTxt_)}) {
        keepPlaceWhenHidden(w);
        w->hide();
        layout->addWidget(w);
    }
    layout->addStretch();

    auto* test = makeButton(page, "TestComm", "Test Comm",
                            "Check the communictaion with your HC11 before anything");
    test->setMinimumWidth(px(1800));
    layout->addWidget(test, 0, Qt::AlignHCenter);
    layout->addSpacing(px(120));
    return page;
}

QWidget* Form1::buildConfigPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageConfigRegs"));
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
    auto* program = makeButton(page, "ConfigProgram", "Program",
                               "Program the config register with this setting");
    program->setMinimumWidth(px(1500));
    layout->addWidget(program, 0, Qt::AlignHCenter);
    layout->addSpacing(px(120));
    return page;
}

QWidget* Form1::buildEepromPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageEeprom"));
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addSpacing(px(480));
    row->addWidget(
        rangeColumns(page, ranges_[0], "LEepromBegin", "LEepromEnd", "Label2", "Label3"));
    row->addStretch();
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(makeButton(page, "EepromCheck", "Check Stat",
                                  "Check is there is data in the internal EEprom of your HC11"));
    buttons->addWidget(
        makeButton(page, "EepromErase", "Erase", "Erase the internal EEprom of your HC11"));
    buttons->addSpacing(px(240));
    buttons->addWidget(makeButton(page, "EepromProgram", "Program",
                                  "Program the internal EEprom your a HC11 with a S19 file"));
    buttons->addWidget(makeButton(page, "EepromCompare", "Compare",
                                  "Compare the internal EEprom of your HC11 with a S19 file"));
    buttons->addStretch();
    for (int i = 0; i < buttons->count(); ++i) {
        if (QWidget* w = buttons->itemAt(i)->widget()) {
            w->setMinimumWidth(px(1500));
        }
    }
    row->addLayout(buttons);
    row->addSpacing(px(240));
    layout->addLayout(row, 1);
    bars_[0] = new QProgressBar(page);
    bars_[0]->setObjectName(QStringLiteral("EepromBar"));
    layout->addWidget(bars_[0]);
    return page;
}

QWidget* Form1::buildEpromPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageEprom"));
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addSpacing(px(480));
    row->addWidget(rangeColumns(page, ranges_[1], "LEpromBegin", "LEpromEnd", "Label6", "Label7"));
    row->addStretch();
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(makeButton(page, "EpromCheck", "Check Stat",
                                  "Check is there is data in the internal Eprom of your HC11"));
    buttons->addSpacing(px(240));
    buttons->addWidget(makeButton(page, "EpromProgram", "Program",
                                  "Program the internal Eprom of your HC11 with a S19 file"));
    buttons->addWidget(makeButton(page, "EpromCompare", "Compare",
                                  "Compare the internal Eprom of your HC11 with a S19 file"));
    buttons->addStretch();
    for (int i = 0; i < buttons->count(); ++i) {
        if (QWidget* w = buttons->itemAt(i)->widget()) {
            w->setMinimumWidth(px(1500));
        }
    }
    row->addLayout(buttons);
    row->addSpacing(px(240));
    layout->addLayout(row, 1);
    bars_[1] = new QProgressBar(page);
    bars_[1]->setObjectName(QStringLiteral("EpromBar"));
    layout->addWidget(bars_[1]);
    return page;
}

QWidget* Form1::buildExternalPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageExternal"));
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;

    auto* left = new QVBoxLayout;
    auto* label19 = makeLabel(page, "Label19", QStringLiteral("Ext. RAM"), 18);
    label19->setAlignment(Qt::AlignCenter);
    left->addWidget(label19);
    auto* extRam = makeButton(page, "ExtRam", "Download",
                              "Download a S19 file in External RAM and execute this code at the "
                              "\"Start Adress\"");
    extRam->setMinimumWidth(px(1500));
    left->addWidget(extRam, 0, Qt::AlignHCenter);
    left->addSpacing(px(240));
    auto* label16 = makeLabel(page, "Label16", QStringLiteral("Start Adress"), 12, true);
    label16->setAlignment(Qt::AlignCenter);
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
    auto* label20 = makeLabel(page, "Label20", QStringLiteral("Ext. EEprom"), 18);
    label20->setAlignment(Qt::AlignCenter);
    right->addWidget(label20);
    for (auto* b :
         {makeButton(page, "ExtEEprog", "Program", "Program external EEprom with a S19 file"),
          makeButton(page, "ExtEEcomp", "Compare", "Compare external EEprom with a S19 file")}) {
        b->setMinimumWidth(px(1500));
        right->addWidget(b, 0, Qt::AlignHCenter);
    }
    right->addStretch();

    row->addLayout(left, 1);
    row->addWidget(verticalLine(page));
    row->addLayout(right, 1);
    layout->addLayout(row, 1);
    bars_[2] = new QProgressBar(page);
    bars_[2]->setObjectName(QStringLiteral("RamBar"));
    layout->addWidget(bars_[2]);
    return page;
}

QWidget* Form1::buildXicorPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageXicor"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(px(60), px(90), px(60), px(90));
    auto* row = new QHBoxLayout;
    row->setSpacing(px(60));

    auto* sfr = new QVBoxLayout;
    auto* label17 = makeLabel(page, "Label17", QStringLiteral("SFR"), 0, true);
    label17->setAlignment(Qt::AlignCenter);
    sfr->addWidget(label17);
    xiScSfr_ = new PageBar(64, 1, 64, page);
    xiScSfr_->setObjectName(QStringLiteral("XIscSFR"));
    xiScSfr_->setAccessibleName(QStringLiteral("SFR location"));
    xiScSfr_->setFixedWidth(qMax(xiScSfr_->sizeHint().width(), px(255)));
    label17->setBuddy(xiScSfr_);
    sfr->addWidget(xiScSfr_, 1, Qt::AlignHCenter);
    xiLeSfr_ = makeLabel(page, "XIleSFR", QStringLiteral("$0400"));
    xiLeSfr_->setAlignment(Qt::AlignCenter);
    sfr->addWidget(xiLeSfr_);
    sfr->addWidget(makeButton(page, "XISFR", "Prog. SFR",
                              "Program the SFR memory map location (SFR:Xicor register location)"));
    {
        auto pressedAt = std::make_shared<int>(xiScSfr_->value());
        connect(xiScSfr_, &QScrollBar::sliderPressed, this,
                [this, pressedAt] { *pressedAt = xiScSfr_->value(); });
        connect(xiScSfr_, &QScrollBar::valueChanged, this, [this] {
            if (!xiScSfr_->isSliderDown()) {
                sfrChanged();
            }
        });
        connect(xiScSfr_, &QScrollBar::sliderReleased, this, [this, pressedAt] {
            if (xiScSfr_->value() != *pressedAt) {
                sfrChanged();
            }
        });
    }

    auto* eem = new QVBoxLayout;
    auto* label18 = makeLabel(page, "Label18", QStringLiteral("EEM"), 0, true);
    label18->setAlignment(Qt::AlignCenter);
    eem->addWidget(label18);
    xiEemMap_ = new QComboBox(page);
    xiEemMap_->setObjectName(QStringLiteral("XIEEMmap"));
    xiEemMap_->setEditable(true);
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
    eem->addWidget(makeButton(page, "XIeem", "Prog. EEM",
                              "Program the EEM memory map location (EEM:Xicor EEprom location)"));

    auto* bpr = new QVBoxLayout;
    bpr->setSpacing(0);
    auto* label22 = makeLabel(page, "Label22", QStringLiteral("BPR"), 0, true);
    label22->setAlignment(Qt::AlignCenter);
    bpr->addWidget(label22);
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
    bpr->addWidget(makeButton(page, "XIBPR", "Prog. BPR",
                              "Program the BPR (BPR:Xicor EEprom block protection)"));

    auto* tools = new QVBoxLayout;
    auto* label10 = makeLabel(page, "Label10", QStringLiteral("Xicor EEprom tools"), 0, true);
    label10->setAlignment(Qt::AlignCenter);
    label10->setWordWrap(true);
    tools->addWidget(label10);
    tools->addWidget(makeButton(page, "XISDPoff", "SDP off",
                                "Disable Software Data Protection of the Xicor. You must do this "
                                "before any Xicor operation"));
    tools->addSpacing(px(120));
    tools->addWidget(makeButton(page, "Xiprog", "Program", "Program Xicor EEprom with a S19 file"));
    tools->addWidget(makeButton(page, "Xicomp", "Compare", "Compare Xicor EEprom with a S19 file"));
    tools->addSpacing(px(120));
    tools->addWidget(
        makeButton(page, "XIreset", "Reset", "Reset will try to restore default Xicor value"));
    tools->addStretch();

    row->addLayout(sfr);
    row->addLayout(eem);
    row->addWidget(verticalLine(page));
    row->addLayout(bpr);
    row->addWidget(verticalLine(page));
    row->addLayout(tools);
    layout->addLayout(row, 1);
    bars_[3] = new QProgressBar(page);
    bars_[3]->setObjectName(QStringLiteral("xibar"));
    layout->addWidget(bars_[3]);
    return page;
}

QWidget* Form1::buildDumpPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PageDump"));
    auto* layout = new QHBoxLayout(page);
    layout->addWidget(
        rangeColumns(page, ranges_[2], "LEdumpBegin", "LEdumpEnd", "Label25", "Label24"));
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
    auto* start = makeButton(page, "DumpStart", "Start Dump", "Create a S19 file from HC11 memory");
    fileRow->addWidget(start);
    right->addLayout(fileRow);

    auto* warning =
        makeLabel(page, "DumpWarning", QStringLiteral("That could be VERY LONG"), 0, true);
    QPalette red = warning->palette();
    red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    warning->setPalette(red);
    warning->setAlignment(Qt::AlignCenter);
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
    page->setObjectName(QStringLiteral("PageMisc"));
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addWidget(
        makePicture(page, "MiscPicture", ":/kestro/logo.svg", px(2200), QStringLiteral("Kestro")));
    auto* text = new QVBoxLayout;
    auto* name = makeLabel(page, "MiscName", QStringLiteral("Kestro"), 20, true);
    text->addWidget(name);
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
    auto* help = makeButton(page, "help", "Help", "Real help", false);
    auto* about = makeButton(page, "About", "About", "Check your Kestro version", false);
    for (auto* b : {help, about}) {
        b->setMinimumWidth(px(1300));
    }
    connect(help, &QPushButton::clicked, this, &Form1::helpClicked);
    connect(about, &QPushButton::clicked, this, &Form1::aboutClicked);
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
    resetTxt1_ = makeLabel(this, "ResetTXT1", QStringLiteral("Reset Your"), 12);
    resetTxt2_ = makeLabel(this, "ResetTXT2", QStringLiteral("HC11"), 12);
    for (QLabel* l : {resetTxt1_, resetTxt2_}) {
        l->setAlignment(Qt::AlignCenter);
    }
    place(resetTxt1_, 120, 4990, 1900, 330);
    place(resetTxt2_, 120, 5300, 1900, 330);
    resetImg_ = makePicture(this, "ResetIMG", ":/kestro/reset.svg", px(640),
                            QStringLiteral("Reset the HC11"));
    place(resetImg_, 750, 5640, 640, 640);

    picDisconnect_ = makePicture(this, "pic_disconnect", ":/kestro/disconnected.svg", px(640),
                                 QStringLiteral("Port closed"));
    place(picDisconnect_, 2725, 5000, 640, 640);
    picDisconnect_->hide();
    disconnectReason_ = makeLabel(this, "DisconnectReason", QString(), 7);
    disconnectReason_->setWordWrap(true);
    disconnectReason_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    place(disconnectReason_, 2040, 5650, 2010, 690);
    disconnectReason_->hide();

    image1_ =
        makePicture(this, "Image1", ":/kestro/not_ready.svg", px(640), QStringLiteral("Not Ready"));
    image2_ = makePicture(this, "Image2", ":/kestro/ready.svg", px(640), QStringLiteral("Ready"));
    place(image1_, 4600, 5000, 640, 640);
    place(image2_, 4600, 5000, 640, 640);
    image2_->hide();
    hc11Stat_ = makeLabel(this, "HC11Stat", QStringLiteral("Not Ready"), 12);
    hc11Stat_->setAlignment(Qt::AlignCenter);
    place(hc11Stat_, 4020, 5660, 1800, 400);

    auto* disconnect =
        makeButton(this, "Disconnect", "Disconnect", "Disconnect Kestro from your comport", false);
    auto* exitButton = makeButton(this, "Exit", "Exit", "Exit Kestro", false);
    auto* connectButton =
        makeButton(this, "Connect", "Connect", "Connect Kestro to your comport", false);
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
        r.beginText = settings_.text(r.beginName, qs(shell::beginText(r.beginDefault)));
        r.endText = settings_.text(r.endName, qs(shell::endText(r.endDefault)));
    }
    sfrText_ = settings_.text("SFR", QStringLiteral("0400"));

    for (Range& r : ranges_) {
        r.beginLabel->setText(QStringLiteral("$") + r.beginText);
        r.endLabel->setText(QStringLiteral("$") + r.endText);
    }
    xiLeSfr_->setText(QStringLiteral("$") + sfrText_);

    // Each bar that moves runs its change handler, which may push the End bar of its pair.
    for (Range& r : ranges_) {
        r.beginBar->setValue(settings_.number(r.beginBarKey, 0, 255, r.beginDefault));
        r.endBar->setValue(settings_.number(r.endBarKey, 0, 255, r.endDefault));
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
        settings_.setText(r.beginName, r.beginText);
        settings_.setText(r.endName, r.endText);
    }
    settings_.setText("SFR", sfrText_);
    for (const Range& r : ranges_) {
        settings_.setNumber(r.beginBarKey, r.beginBar->value());
        settings_.setNumber(r.endBarKey, r.endBar->value());
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
    settings_.sync();
}

// ---- range selectors -----------------------------------------------------------------------

void Form1::beginChanged(Range& r) {
    const int begin = r.beginBar->value();
    r.beginText = qs(shell::beginText(begin));
    r.beginLabel->setText(qs(shell::rangeLabel(r.beginText.toStdString())));
    if (const auto end = shell::correctedEnd(begin, r.endBar->value())) {
        r.endBar->setValue(*end);
    }
}

void Form1::endChanged(Range& r) {
    const int end = r.endBar->value();
    r.endText = qs(shell::endText(end));
    r.endLabel->setText(qs(shell::rangeLabel(r.endText.toStdString())));
    if (const auto corrected = shell::correctedEnd(r.beginBar->value(), end)) {
        r.endBar->setValue(*corrected);
    }
}

void Form1::sfrChanged() {
    const int position = xiScSfr_->value();
    sfrText_ = qs(shell::sfrText(position));
    xiLeSfr_->setText(qs(shell::sfrLabel(position)));
}

QString Form1::rangeText(const char* name) const {
    for (const Range& r : ranges_) {
        if (qstrcmp(name, r.beginName) == 0) {
            return r.beginText;
        }
        if (qstrcmp(name, r.endName) == 0) {
            return r.endText;
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
    in.eepromBegin = ranges_[0].beginText.toStdString();
    in.eepromEnd = ranges_[0].endText.toStdString();
    in.epromBegin = ranges_[1].beginText.toStdString();
    in.epromEnd = ranges_[1].endText.toStdString();
    in.dumpBegin = ranges_[2].beginText.toStdString();
    in.dumpEnd = ranges_[2].endText.toStdString();
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
    resetImg_->setVisible(shown);
    resetTxt1_->setVisible(shown);
    resetTxt2_->setVisible(shown);
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
    return Form2::choose(settings_.store(), this).toStdString();
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
