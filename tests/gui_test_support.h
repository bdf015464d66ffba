#pragma once

#include "core/context/app_context.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace ufd::testing {

// Fresh databases in a folder of their own.
struct TempData {
    TempData() { ok = dir.isValid() && context.openData(dir.path()); }
    QTemporaryDir dir;
    app::AppContext context;
    bool ok = false;
};

// Types any text, also characters that have no key of their own, as one key event.
inline void typeText(QWidget* widget, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

// Lets closed windows go: their deferred deletions and what those set off. QTRY_ cannot serve:
// its failures never reach GoogleTest.
inline void settleClosedWindows() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// Works through modal dialogs as they come up: each step is tried on the active modal widget
// until it reports that it acted. A dialog still open after the script is done, or after
// `limitTicks`, is closed as rejected so that a broken run ends instead of hanging.
class ModalScript : public QObject {
public:
    using Step = std::function<bool(QWidget* modal)>;

    explicit ModalScript(std::vector<Step> steps, int limitTicks = 400)
        : steps_(std::move(steps)), limit_(limitTicks) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
        timer_.start();
    }

    bool completed() const { return next_ == steps_.size(); }
    bool forcedClose() const { return forced_; }

private:
    void tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            return;
        }
        if (++ticks_ > limit_ || completed()) {
            if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && ticks_ > limit_) {
                forced_ = true;
                dialog->done(QDialog::Rejected);
            }
            return;
        }
        if (steps_[next_](modal)) {
            ++next_;
        }
    }

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    int ticks_ = 0;
    int limit_;
    bool forced_ = false;
    QTimer timer_;
};

} // namespace ufd::testing
