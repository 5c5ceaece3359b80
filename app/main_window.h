// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link_state.h"
#include "operation_ui.h"
#include "operations.h"
#include "settings_store.h"

class QProgressBar;
class QStackedWidget;
class QTextBrowser;
class QUrl;

namespace kestro {

class CommPage;
class ConfigPage;
class Controls;
class DumpPage;
class ExternalPage;
class MemoryPage;
class MonitorWindow;
class RangeSelector;
class StatusStrip;
class TabHeader;
class XicorPage;

// The main window: eight pages of controls over a strip with the link's state and the Connect,
// Exit and Disconnect buttons. It shows what the link and the operations report, gathers from
// the pages what an operation needs and forwards clicks to the link and the operations.
class MainWindow : public QWidget, public LinkView, public OperationUi {
    Q_OBJECT
  public:
    static constexpr int kWidthTwips = 6090;
    static constexpr int kHeightTwips = 6870;

    // The pages in the order of their tabs.
    static const QStringList& pageCaptions();

    MainWindow(LinkState& link, QSettings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Everything the window does before it first shows: lists, caption, settings, the port
    // search and the window's place on the screen.
    void startup();
    // Writes the values that survive a restart. The first time the store cannot be written,
    // says so.
    void saveSettings();
    // The session ends (logout, shutdown, a termination signal): the settings are kept at once,
    // and the window closes as on Exit, after the operation if one runs.
    void endSession();

    // Hooks that tests and the program set.
    using MessageSink = std::function<void(const Message&)>;
    void setMessageSink(MessageSink sink) { messageSink_ = std::move(sink); }
    // Runs before every box, sink or not: what a verdict reports is kept before it is shown.
    void setBeforeMessage(std::function<void()> hook) { beforeMessage_ = std::move(hook); }
    // Opens a page in the desktop's viewer; false when no viewer took it.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { urlOpener_ = std::move(opener); }
    // Runs when the window has closed for good; the program ends every wait and quits there.
    void setQuitHook(std::function<void()> hook) { quitHook_ = std::move(hook); }
    // Replaces the file chooser dialog.
    void setFileChooser(std::function<std::string()> chooser) { chooser_ = std::move(chooser); }

    // The window-wide values the operations read.
    QString rangeText(const char* name) const;
    QString sfrText() const;
    QString exeDir() const { return exeDir_; }
    ops::Inputs inputs() const;
    // The option --fast: the fast protocol for this run, whatever the settings say.
    void setFast(bool fast) { fastOption_ = fast; }
    int currentPage() const;
    void showPage(int index);
    // The Monitor window (Ctrl+M), made on first use; nullptr until then.
    void openMonitor();
    MonitorWindow* monitorWindow() { return monitor_.get(); }

    // LinkView
    void showReadiness(bool ready) override;
    void showResetPrompt(bool shown) override;
    void showDisconnected(bool shown, const std::string& reason) override;
    void showPortWarning(const std::optional<std::string>& text) override;
    void selectComm(int n) override;
    void message(const Message& m) override;

    // OperationUi
    void setWindowEnabled(bool enabled) override;
    void setCaption(std::string_view button, std::string_view caption) override;
    void setProgress(std::optional<int> percent) override;
    void setLineRate(int baud) override;
    void setReceived(std::optional<Received> received) override;
    void setVisible(std::string_view control, bool visible) override;
    using QWidget::setVisible;
    std::string chooseFile() override;
    void jobDone(std::string_view what) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    std::array<const RangeSelector*, 3> ranges() const;
    void restoreSettings();
    void runOperation(const QString& button);
    // Runs a job on the target, unless one runs already (false); the strip then says how it
    // ended.
    bool runJob(const std::function<void(Target&)>& job);
    void helpClicked();
    void showHelpWindow(const QUrl& url);
    // The crystal and the fast mode, in a dialog of their own.
    void preferencesClicked();
    void aboutClicked();
    void exitClicked();

    LinkState& link_;
    StartupSettings settings_;
    std::unique_ptr<Controls> controls_;
    MessageSink messageSink_;
    std::function<void()> beforeMessage_;
    std::function<bool(const QUrl&)> urlOpener_;
    std::function<void()> quitHook_;
    std::function<std::string()> chooser_;

    QString exeDir_;
    bool busy_ = false;
    bool closePending_ = false;
    bool settingsFailureTold_ = false;
    bool fastOption_ = false;
    bool fastKey_ = false;  // read at start
    // What the job under way has reported of its end: its box's text, or what it did where it
    // ends without one. Empty until it reports.
    QString jobEnd_;
    // The control that had the keyboard when a job disabled the window.
    QPointer<QWidget> focusBeforeJob_;

    TabHeader* tabs_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    CommPage* comm_ = nullptr;
    ConfigPage* config_ = nullptr;
    MemoryPage* eeprom_ = nullptr;
    MemoryPage* eprom_ = nullptr;
    ExternalPage* external_ = nullptr;
    XicorPage* xicor_ = nullptr;
    DumpPage* dump_ = nullptr;
    std::array<QProgressBar*, 4> bars_{};  // EepromBar, EpromBar, RamBar, xibar
    StatusStrip* strip_ = nullptr;
    std::unique_ptr<QTextBrowser> helpWindow_;  // made when no viewer shows the help
    std::unique_ptr<MonitorWindow> monitor_;
};

}  // namespace kestro
