// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "accessible_frame.h"
#include "button_keys.h"
#include "comm_page.h"
#include "config_page.h"
#include "controls.h"
#include "dump_page.h"
#include "external_page.h"
#include "file_chooser.h"
#include "memory_page.h"
#include "misc_page.h"
#include "monitor_window.h"
#include "preferences_dialog.h"
#include "range_selector.h"
#include "status_strip.h"
#include "tab_header.h"
#include "ui_rules.h"
#include "xicor_page.h"

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

QIcon drawnIcon() {
    QIcon icon;
    QSvgRenderer renderer(QStringLiteral(":/kestro/icon.svg"));
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

const QStringList& MainWindow::pageCaptions() {
    static const QStringList captions = {QStringLiteral("Comm Port"), QStringLiteral("Config Regs"),
                                         QStringLiteral("Eeprom"),    QStringLiteral("Eprom"),
                                         QStringLiteral("External"),  QStringLiteral("Xicor"),
                                         QStringLiteral("Dump"),      QStringLiteral("Misc")};
    return captions;
}

MainWindow::MainWindow(LinkState& link, QSettings& settings, QWidget* parent)
    : QWidget(parent), link_(link), settings_(settings) {
    // Before anything asks for its accessible interface, which Qt then keeps.
    widgets::readAsFrame(this);
    initKestroResources();
    installTabAccessibility();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestro"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    QFont base = font();
    base.setPointSizeF(8.25);
    setFont(base);
    widgets::enterPressesButtons(this);

    const QScreen* screen = QGuiApplication::primaryScreen();
    controls_ = std::make_unique<Controls>(screen != nullptr ? screen->logicalDotsPerInch() : 96.0,
                                           devicePixelRatioF());
    const Controls& c = *controls_;
    // The pages keep their places; a window made smaller than they are (by the desktop, or
    // by a screen that a large scale factor leaves small) scrolls them rather than cutting
    // them off, down to half their size in each direction.
    const QSize full(c.px(kWidthTwips), c.px(kHeightTwips));
    setMaximumSize(full);
    setMinimumSize(full / 2);
    resize(full);
    auto* scroller = new QScrollArea(this);
    scroller->setObjectName(QStringLiteral("Scroller"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("Content"));
    content->setFixedSize(full);
    scroller->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroller);
    const QIcon icon = drawnIcon();
    setWindowIcon(icon);
    QGuiApplication::setWindowIcon(icon);

    auto* tabControl = new QWidget(content);
    tabControl->setObjectName(QStringLiteral("SSTab1"));
    tabControl->setAccessibleName(QStringLiteral("Pages"));
    tabControl->setGeometry(0, 0, c.px(kWidthTwips), c.px(4935));
    auto* tabLayout = new QVBoxLayout(tabControl);
    tabLayout->setContentsMargins(c.px(45), c.px(45), c.px(45), 0);
    tabLayout->setSpacing(0);
    // Each tab's underlined letter (Alt+letter) differs from every other letter the window
    // underlines on any page.
    static const QStringList kTabTexts = {
        QStringLiteral("Comm Por&t"), QStringLiteral("Con&fig Regs"), QStringLiteral("&Eeprom"),
        QStringLiteral("E&prom"),     QStringLiteral("Externa&l"),    QStringLiteral("X&icor"),
        QStringLiteral("D&ump"),      QStringLiteral("Mi&sc")};
    tabs_ = new TabHeader(kTabTexts, tabControl);
    tabs_->setObjectName(QStringLiteral("SSTab1Tabs"));
    pages_ = new QStackedWidget(tabControl);
    pages_->setObjectName(QStringLiteral("SSTab1Pages"));
    pages_->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    tabLayout->addWidget(tabs_);
    tabLayout->addWidget(pages_, 1);

    // The pages are made whole before they join the window, in the order of their tabs, which
    // is also their keyboard order.
    const RunOperation run = [this](const QString& button) { runOperation(button); };
    comm_ = new CommPage(link_, c, run);
    config_ = new ConfigPage(c, run);
    eeprom_ = new MemoryPage(AddressRange::Eeprom, c, run);
    eprom_ = new MemoryPage(AddressRange::Eprom, c, run);
    external_ = new ExternalPage(c, run);
    xicor_ = new XicorPage(c, run);
    dump_ = new DumpPage(settings_, c, run);
    auto* misc = new MiscPage(
        c, [this] { helpClicked(); }, [this] { preferencesClicked(); }, [this] { aboutClicked(); });
    auto* preferences = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), this);
    connect(preferences, &QShortcut::activated, this, [this] { preferencesClicked(); });
    // The Monitor window has no place on the pages, which keep their layout: a key, and the
    // Misc page's context menu.
    auto* monitor = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
    connect(monitor, &QShortcut::activated, this, [this] { openMonitor(); });
    auto* monitorAction = new QAction(QStringLiteral("&Monitor window\tCtrl+M"), misc);
    connect(monitorAction, &QAction::triggered, this, [this] { openMonitor(); });
    misc->addAction(monitorAction);
    misc->setContextMenuPolicy(Qt::ActionsContextMenu);
    const std::array<QWidget*, 8> pages = {comm_,     config_, eeprom_, eprom_,
                                           external_, xicor_,  dump_,   misc};
    for (int i = 0; i < static_cast<int>(pages.size()); ++i) {
        // A page is named after its tab: "Comm Port" is PageCommPort.
        const QString& caption = pageCaptions().at(i);
        pages[i]->setObjectName(QStringLiteral("Page") + QString(caption).remove(QLatin1Char(' ')));
        pages[i]->setAccessibleName(caption);
        pages_->addWidget(pages[i]);
    }
    bars_ = {eeprom_->progressBar(), eprom_->progressBar(), external_->progressBar(),
             xicor_->progressBar()};
    connect(tabs_, &TabHeader::currentChanged, pages_, &QStackedWidget::setCurrentIndex);
    // Created last, the strip comes last in the keyboard order: the page tabs, the controls of
    // the page shown, then Disconnect, Exit and Connect.
    strip_ = new StatusStrip(
        content, c,
        {[this] { link_.disconnect(); }, [this] { exitClicked(); }, [this] { link_.connect(); }});
}

MainWindow::~MainWindow() = default;

// ---- start-up and settings -----------------------------------------------------------------

void MainWindow::startup() {
    config_->fillLocations();
    xicor_->fillBlocks();
    setWindowTitle(QStringLiteral("Kestro Ver:") + QStringLiteral(KESTRO_VERSION));
    restoreSettings();
    showPage(0);
    exeDir_ = QCoreApplication::applicationDirPath();
    link_.startupSearch();

    const QScreen* screen =
        this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect area = screen->geometry();
        // A screen smaller than the window (in its own pixels) gets a window that fits it.
        resize(size().boundedTo(screen->availableGeometry().size()));
        const double dpi = controls_->dpi();
        const auto at =
            shell::placeWindow(shell::pixelsToTwips(area.width(), dpi),
                               shell::pixelsToTwips(area.height(), dpi), kWidthTwips, kHeightTwips);
        // Never above or left of the screen, where its title bar could not be reached.
        move(std::max(area.left(), area.left() + controls_->px(at.left)),
             std::max(area.top(), area.top() + controls_->px(at.top)));
    }
}

void MainWindow::restoreSettings() {
    eeprom_->range()->restore(settings_);
    eprom_->range()->restore(settings_);
    xicor_->restore(settings_);
    config_->restore(settings_);
    dump_->restore(settings_);
    external_->restore(settings_);
    fastKey_ = fastLink(settings_.store());
    // A crystal the file does not hold as one leaves 8 MHz; Preferences shows which is in force.
    if (const auto text = linkCrystal(settings_.store()))
        if (const auto hz = parseCrystalMHz(*text))
            link_.setSciClock(SciClock(*hz));
}

void MainWindow::saveSettings() {
    for (const RangeSelector* range : ranges()) {
        range->save(settings_);
    }
    xicor_->save(settings_);
    config_->save(settings_);
    external_->save(settings_);
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

void MainWindow::endSession() {
    saveSettings();
    if (busy_) {
        closePending_ = true;
        if (monitor_)
            monitor_->close();
        // A job that waits for the user (the file chooser before anything is sent, a box after
        // its verdict) is answered as Escape would: nobody may be there to do it, and the
        // job ends as soon as it is told.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w);
                dialog && dialog->isVisible() && dialog->isModal())
                dialog->reject();
        return;
    }
    exitClicked();
}

// ---- the values the operations read --------------------------------------------------------

std::array<const RangeSelector*, 3> MainWindow::ranges() const {
    return {eeprom_->range(), eprom_->range(), dump_->range()};
}

QString MainWindow::rangeText(const char* name) const {
    for (const RangeSelector* range : ranges()) {
        for (int side = 0; side < 2; ++side) {
            if (qstrcmp(name, range->name(side)) == 0) {
                return range->text(side);
            }
        }
    }
    return {};
}

QString MainWindow::sfrText() const {
    return xicor_->sfrText();
}

int MainWindow::currentPage() const {
    return tabs_->currentIndex();
}

void MainWindow::showPage(int index) {
    tabs_->setCurrentIndex(index);
}

ops::Inputs MainWindow::inputs() const {
    ops::Inputs in;
    eeprom_->addTo(in);
    eprom_->addTo(in);
    dump_->addTo(in);
    config_->addTo(in);
    external_->addTo(in);
    xicor_->addTo(in);
    in.fast = fastOption_ || fastKey_;
    return in;
}

void MainWindow::runOperation(const QString& button) {
    const ops::Operation operation = ops::operationFor(button.toStdString());
    if (!operation) {
        return;
    }
    runJob([this, &operation](Target& target) { operation(target, inputs()); });
}

bool MainWindow::runJob(const std::function<void(Target&)>& job) {
    if (busy_) {
        return false;
    }
    busy_ = true;
    jobEnd_.clear();
    Target target{link_, *this,
                  std::filesystem::path(QFile::encodeName(exeDir_).toStdString()) / "asm"};
    try {
        job(target);
    } catch (const std::exception& e) {
        // The frame ends its runs itself; this only keeps a fault from taking the window down.
        message({e.what(), kAppTitle, Icon::Critical});
        setWindowEnabled(true);
    }
    busy_ = false;
    // Only what the job reported: a job that said nothing (a cancelled file choice) leaves the
    // line empty rather than seeming to have gone well.
    strip_->showJobEnd(jobEnd_);
    if (closePending_) {
        closePending_ = false;
        close();
    }
    return true;
}

void MainWindow::openMonitor() {
    if (!monitor_) {
        // A window of its own, not a child: the main window is disabled while the session holds
        // the link, and the Monitor window must not be disabled with it.
        monitor_ = std::make_unique<MonitorWindow>(
            link_, [this](const std::function<void(Target&)>& job) { return runJob(job); },
            [this](const Message& m) { message(m); }, [this] { return chooseFile(); });
        monitor_->setWindowIcon(windowIcon());
        monitor_->setFont(font());
        monitor_->showBeside(*this);
    }
    monitor_->show();
    monitor_->raise();
    monitor_->activateWindow();
}

// ---- LinkView ------------------------------------------------------------------------------

void MainWindow::showReadiness(bool ready) {
    strip_->showReadiness(ready);
    // A break is the HC11's reset: a monitor session on it has ended.
    if (monitor_)
        monitor_->linkChanged();
}

void MainWindow::showResetPrompt(bool shown) {
    strip_->showResetPrompt(shown);
}

void MainWindow::showDisconnected(bool shown, const std::string& reason) {
    strip_->showDisconnected(shown, reason);
}

void MainWindow::showPortWarning(const std::optional<std::string>& text) {
    comm_->showPortWarning(text);
}

void MainWindow::selectComm(int n) {
    comm_->selectComm(n);
}

void MainWindow::message(const Message& m) {
    if (busy_) {
        // The box's text on one line: "Error found at" and its address belong together.
        jobEnd_ = qs(m.text).simplified();
    }
    if (beforeMessage_)
        beforeMessage_();
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

void MainWindow::setWindowEnabled(bool enabled) {
    // Disabling the window takes the focus away for good; a keyboard user carries on from the
    // control that started the job, not from nowhere.
    if (!enabled && isEnabled())
        focusBeforeJob_ = focusWidget();
    setEnabled(enabled);
    if (enabled && focusBeforeJob_ != nullptr && focusWidget() == nullptr &&
        focusBeforeJob_->isVisibleTo(this) && focusBeforeJob_->isEnabled())
        focusBeforeJob_->setFocus(Qt::OtherFocusReason);
    // A job starts at the boot loader's rate: the bars name a rate only once one is agreed, and
    // stay plain as they always were on the default path.
    if (!enabled)
        setLineRate(0);
}

void MainWindow::setCaption(std::string_view button, std::string_view caption) {
    const QString name = QString::fromUtf8(button.data(), static_cast<qsizetype>(button.size()));
    if (auto* b = findChild<QAbstractButton*>(name)) {
        const QString text =
            QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
        // The caption at rest keeps its underlined letter.
        const QString resting = b->property(kRestingText).toString();
        b->setText(withoutMnemonic(resting) == text ? resting : text);
    }
}

void MainWindow::setProgress(std::optional<int> percent) {
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

void MainWindow::setLineRate(int baud) {
    // Grouped as the help page and the command line write rates ("125,000 baud").
    const QString rate =
        baud > 0 ? QLocale(QLocale::English).toString(baud) + QStringLiteral(" baud") : QString();
    for (QProgressBar* bar : bars_) {
        bar->setFormat(baud > 0 ? QStringLiteral("%p% at ") + rate : QStringLiteral("%p%"));
        bar->setTextVisible(baud > 0);
        bar->setAccessibleDescription(rate);
    }
}

void MainWindow::setReceived(std::optional<Received> received) {
    dump_->showReceived(received);
}

void MainWindow::setVisible(std::string_view control, bool visible) {
    const QString name = QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size()));
    if (auto* w = findChild<QWidget*>(name)) {
        w->setVisible(visible);
    }
}

std::string MainWindow::chooseFile() {
    if (chooser_) {
        return chooser_();
    }
    return FileChooser::choose(settings_.store(), this).toStdString();
}

void MainWindow::jobDone(std::string_view what) {
    jobEnd_ = QString::fromUtf8(what.data(), static_cast<qsizetype>(what.size()));
}

// ---- help, about, exit ---------------------------------------------------------------------

void MainWindow::helpClicked() {
    const QUrl url = QUrl::fromLocalFile(exeDir_ + QStringLiteral("/help/kestro.htm"));
    const bool shown = urlOpener_ ? urlOpener_(url) : QDesktopServices::openUrl(url);
    if (!shown) {
        showHelpWindow(url);
    }
}

void MainWindow::showHelpWindow(const QUrl& url) {
    // A desktop with no viewer for HTML (or none at all) still gets the help, in a window of
    // our own; its links to the web go to the browser, if there is one.
    if (helpWindow_ == nullptr) {
        // A window of its own, not a child: a job disables the main window, and the help must
        // stay readable while one runs (a dump of all 64 KB takes some 24 minutes).
        helpWindow_ = std::make_unique<QTextBrowser>();
        helpWindow_->setObjectName(QStringLiteral("HelpWindow"));
        helpWindow_->setWindowIcon(windowIcon());
        helpWindow_->setWindowTitle(QStringLiteral("Kestro help"));
        helpWindow_->setAccessibleName(QStringLiteral("Kestro help"));
        helpWindow_->setOpenExternalLinks(true);
        // Never larger than the main window's screen (a large scale factor leaves it small).
        QSize size(controls_->px(9000), controls_->px(7000));
        if (const QScreen* on = screen())
            size = size.boundedTo(on->availableGeometry().size() * 9 / 10);
        helpWindow_->resize(size);
    }
    helpWindow_->setSource(url);
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void MainWindow::preferencesClicked() {
    // A job reads the crystal as it goes: it keeps the one it started with.
    if (busy_)
        return;
    auto* dialog = new PreferencesDialog({link_.sciClock(), fastOption_ || fastKey_}, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const auto choice = dialog->choice();
        if (!choice)
            return;
        // From the next job on; the option --fast gives way to what was chosen here.
        link_.setSciClock(choice->crystal);
        fastKey_ = choice->fast;
        fastOption_ = false;
        setLinkPreferences(settings_.store(), choice->crystal.crystalText(), choice->fast);
        if (const auto failure = settings_.sync())
            message({failure->toStdString(), kAppTitle, Icon::Exclamation,
                     "The crystal and the fast mode hold for this run only."});
    });
    dialog->open();
}

void MainWindow::aboutClicked() {
    message({windowTitle().toStdString(), "About", Icon::Information});
}

void MainWindow::exitClicked() {
    if (link_.port().isOpen()) {
        link_.port().close();
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // An operation holds the target; the window closes once it has ended. A monitor
        // session ends when its window closes.
        closePending_ = true;
        event->ignore();
        if (monitor_ && monitor_->session())
            monitor_->close();
        return;
    }
    if (monitor_)
        monitor_->close();
    if (helpWindow_)
        helpWindow_->close();
    saveSettings();
    event->accept();
    if (quitHook_) {
        quitHook_();
    }
}

}  // namespace kestro
