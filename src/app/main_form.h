#pragma once

#include "core/context/station_folder.h"
#include "core/context/version.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QMdiSubWindow;
class QTimer;
class QToolBar;

namespace ufd::app {

class AppContext;
class OperatorMessages;
class PortLink;

inline constexpr char kMainCaption[] = "Tarvenix of ultrasonic flaw detector " UFD_VERSION_LABEL;
// The station's name titles the program's own message boxes.
inline constexpr const auto& kApplicationTitle = kStationName;

// The child windows the main window opens, each at most once at a time.
enum class ChildKind {
    Workpieces,
    UserManager,
    Station,
    Online,
    Upload,
    Replay,
    ReportBrowser,
    ReportArchive,
    About
};

// The multiple-document main window: menus, toolbar, status bar with the clock, the link state
// and the child windows.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Makes the window of one kind; it is shown as a child of the main window.
    using ChildFactory = std::function<QWidget*(TMainForm&)>;
    // Runs the login; false when the operator quit.
    using LoginStep = std::function<bool(TMainForm&)>;
    // Creates the port window's side of the link at the first showing.
    using PortLinkFactory = std::function<std::unique_ptr<PortLink>(TMainForm&)>;

    static constexpr int kPanelCount = 6;
    static constexpr std::array<int, kPanelCount> kPanelWidths{300, 100, 100, 100, 220, 50};

    TMainForm(AppContext& context, OperatorMessages& messages, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Plugs in the window of a kind; `flags` are the child frame's flags (default frame when
    // empty). Replaces an earlier factory.
    void setChildFactory(ChildKind kind, ChildFactory factory, Qt::WindowFlags flags = {});
    void setLoginStep(LoginStep step) { loginStep_ = std::move(step); }
    void setPortLinkFactory(PortLinkFactory factory) { portLinkFactory_ = std::move(factory); }

    // Creates the window of `kind` on first request, brings the existing one forward on later
    // ones. Null when no window of that kind is plugged in.
    QWidget* openChild(ChildKind kind);
    // The open window of `kind`, or null.
    QWidget* child(ChildKind kind) const;

    AppContext& context() { return context_; }
    OperatorMessages& messages() { return messages_; }
    PortLink& portLink();
    QMdiArea* mdiArea() const { return mdiArea_; }

    // True when the login was quit: the program ends without entering normal operation.
    bool endRequested() const { return endRequested_; }

    QString panelText(int panel) const;
    void setPanelText(int panel, const QString& text);

public slots:
    // Shows the link state the dispatcher entered on the instrument's reply 16 (connected) or
    // 18; `statusText` goes to panel 0 ("Connect" or "Disconnect" when empty).
    void setLinkConnected(bool connected, const QString& statusText = QString());
    // A damaged answer: shown in the clock panel until the next tick.
    void showDataCheckError(const QString& text);
    void ToolButton_ConnectClick();
    void Timer1Timer();

signals:
    // The operator confirmed the exit and the port is closed.
    void exitConfirmed();
    // The login was quit.
    void loginQuit();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    // Remembers where a child window was when it closes.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct ChildEntry {
        ChildFactory make;
        Qt::WindowFlags flags;
    };

    void FormCreate();
    void FormShow();
    void buildMenu();
    void buildToolBar();
    void buildStatusBar();
    QAction* addItem(QMenu* menu, const char* name, const QString& caption,
                     const QString& hint = QString());
    void openOnTrigger(QAction* action, ChildKind kind);
    void setToolButtonName(QAction* action, const char* name);
    void rememberChildFrame(const QMdiSubWindow* sub);

    AppContext& context_;
    OperatorMessages& messages_;
    QMdiArea* mdiArea_;
    QToolBar* toolBar_ = nullptr;
    QTimer* timer1_;
    std::array<QLabel*, kPanelCount> panels_{};
    QAction* connectAction_ = nullptr;
    std::map<ChildKind, ChildEntry> factories_;
    LoginStep loginStep_;
    PortLinkFactory portLinkFactory_;
    std::unique_ptr<PortLink> portLink_;
    bool shown_ = false;
    bool endRequested_ = false;
};

} // namespace ufd::app
