#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "link_state.h"
#include "operation_ui.h"
#include "operations.h"
#include "settings_store.h"

class QAbstractButton;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QButtonGroup;
class QScrollBar;
class QStackedWidget;
class QUrl;

namespace kestro {

class DriveList;
class FolderList;
class PageBar;
class TabHeader;

// The main window: eight pages of controls over a strip with the link's state and the Connect,
// Exit and Disconnect buttons. It shows what the link and the operations report, and forwards
// clicks to them; it keeps the address ranges and the settings store.
class Form1 : public QWidget, public LinkView, public OperationUi {
    Q_OBJECT
  public:
    static constexpr int kWidthTwips = 6090;
    static constexpr int kHeightTwips = 6870;

    // The pages in the order of their tabs.
    static const QStringList& pageCaptions();

    Form1(LinkState& link, QSettings& settings, QWidget* parent = nullptr);
    ~Form1() override;

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
    void setUrlOpener(std::function<void(const QUrl&)> opener) { urlOpener_ = std::move(opener); }
    // Runs when the window has closed for good; the program ends every wait and quits there.
    void setQuitHook(std::function<void()> hook) { quitHook_ = std::move(hook); }
    // Replaces the file chooser dialog.
    void setFileChooser(std::function<std::string()> chooser) { chooser_ = std::move(chooser); }

    // The window-wide values the operations read.
    QString rangeText(const char* name) const;
    QString sfrText() const { return sfrText_; }
    QString exeDir() const { return exeDir_; }
    ops::Inputs inputs() const;
    int currentPage() const;
    void showPage(int index);

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
    void setVisible(std::string_view control, bool visible) override;
    using QWidget::setVisible;
    std::string chooseFile() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // One selector of an address range: its row of the range table, its bar and address label,
    // and the text the operations read.
    struct RangeEnd;
    struct Selector {
        const RangeEnd* row = nullptr;
        PageBar* bar = nullptr;
        QLabel* label = nullptr;
        QString text;
    };
    using Range = std::array<Selector, 2>;  // Begin, End
    enum class Group;

    int px(int twips) const;
    QPushButton* makeButton(QWidget* parent, const char* name, const char* caption,
                            const char* tip);
    void addButtons(QBoxLayout* box, QWidget* parent, Group group, int minWidthTwips = 0,
                    Qt::Alignment align = {});
    QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption,
                      double pointSize = 0, bool bold = false, Qt::Alignment align = {});
    QLabel* makePicture(QWidget* parent, const char* name, const char* resource, int sizePx,
                        const QString& accessibleName);
    QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption,
                         const char* tip = nullptr);
    QWidget* rangeColumns(QWidget* parent, Range& range);
    void addProgressBar(QBoxLayout* box, QWidget* parent, int index);

    QWidget* buildCommPage();
    QWidget* buildConfigPage();
    QWidget* buildRangePage(int index);
    QWidget* buildExternalPage();
    QWidget* buildXicorPage();
    QWidget* buildDumpPage();
    QWidget* buildMiscPage();
    void buildStrip();

    void rangeMoved(Range& range, int side);
    void sfrChanged();
    void dumpFolderChanged(const QString& folder);
    void dumpDriveChanged(const QString& drive);
    void dumpDriveFallback();
    void restoreSettings();

    void runOperation(const QString& button);
    void helpClicked();
    void aboutClicked();
    void exitClicked();

    LinkState& link_;
    StartupSettings settings_;
    double dpi_;
    MessageSink messageSink_;
    std::function<void(const QUrl&)> urlOpener_;
    std::function<void()> quitHook_;
    std::function<std::string()> chooser_;

    std::array<Range, 3> ranges_;
    QString sfrText_ = QStringLiteral("0400");
    QString exeDir_;
    bool busy_ = false;
    bool closePending_ = false;
    bool settingsFailureTold_ = false;

    QWidget* tabControl_ = nullptr;
    TabHeader* tabs_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QButtonGroup* commGroup_ = nullptr;
    std::array<QRadioButton*, 4> comm_{};
    bool commWasChecked_ = false;  // the Comm button being clicked was checked when pressed
    QLabel* commUseTxt_ = nullptr;
    QLabel* commUseImg_ = nullptr;
    std::array<QCheckBox*, 4> config_{};
    QComboBox* config5_ = nullptr;
    QLineEdit* startAdress_ = nullptr;
    PageBar* xiScSfr_ = nullptr;
    QLabel* xiLeSfr_ = nullptr;
    QComboBox* xiEemMap_ = nullptr;
    QCheckBox* xiEemLam_ = nullptr;
    QCheckBox* xiEemRes_ = nullptr;
    std::array<QCheckBox*, 8> xiBpr_{};
    std::array<QProgressBar*, 4> bars_{};  // EepromBar, EpromBar, RamBar, xibar
    FolderList* dumpDir_ = nullptr;
    DriveList* dumpDrive_ = nullptr;

    std::array<QLabel*, 3> resetPrompt_{};  // ResetTXT1, ResetTXT2, ResetIMG
    QLabel* picDisconnect_ = nullptr;
    QLabel* disconnectReason_ = nullptr;
    QLabel* image1_ = nullptr;
    QLabel* image2_ = nullptr;
    QLabel* hc11Stat_ = nullptr;
};

}  // namespace kestro
