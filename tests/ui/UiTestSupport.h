#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>

// Window-system input as the platform plugin delivers it: through QGuiApplication, the
// widget's QWindow and then the widget, flagged spontaneous. These are the entry points
// QtTest's own mouse and key helpers use; they are exported by QtGui.
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                      Qt::MouseButtons state, Qt::MouseButton button,
                                      QEvent::Type type, Qt::KeyboardModifiers mods, int timestamp);
Q_GUI_EXPORT void qt_handleKeyEvent(QWindow* window, QEvent::Type type, int key,
                                    Qt::KeyboardModifiers mods, const QString& text, bool autorep,
                                    ushort count);

namespace uitest {

// Waits (processing events) until pred holds or timeoutMs pass; returns pred().
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return pred();
}

// Shows a window and waits until it is the active window with its focus set up.
inline bool ShowActive(QWidget& window) {
    window.show();
    window.activateWindow();
    return WaitFor([&] { return QApplication::activeWindow() == &window; });
}

// A left click in the middle of a widget, delivered as the window system would.
inline void SystemClick(QWidget* widget) {
    QWindow* window = widget->window()->windowHandle();
    const QPointF local = widget->mapTo(widget->window(), widget->rect().center());
    const QPointF global = widget->mapToGlobal(widget->rect().center());
    static int timestamp = 1000;
    qt_handleMouseEvent(window, local, global, Qt::LeftButton, Qt::LeftButton,
                        QEvent::MouseButtonPress, Qt::NoModifier, timestamp += 10);
    qt_handleMouseEvent(window, local, global, Qt::NoButton, Qt::LeftButton,
                        QEvent::MouseButtonRelease, Qt::NoModifier, timestamp += 10);
}

// A key press and release to the focus widget of a window, as the window system would.
inline void SystemKey(QWidget* window, int key, const QString& text = QString()) {
    qt_handleKeyEvent(window->windowHandle(), QEvent::KeyPress, key, Qt::NoModifier, text, false,
                      1);
    qt_handleKeyEvent(window->windowHandle(), QEvent::KeyRelease, key, Qt::NoModifier, text, false,
                      1);
}

// A left click posted to a widget: it waits in the event queue until someone processes it.
inline void PostClick(QWidget* widget) {
    const QPointF local = widget->rect().center();
    const QPointF global = widget->mapToGlobal(local);
    QCoreApplication::postEvent(
        widget, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                                Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        widget, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier));
}

// Calls answer with the next modal dialog as soon as one is open. The dialog's exec() must
// follow on this thread; the poll runs inside its event loop.
inline void AnswerNextModal(const std::function<void(QWidget*)>& answer) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible()) {
            poll->stop();
            poll->deleteLater();
            answer(modal);
        }
    });
    poll->start();
}

// Counts the events of one type that reach an object.
class EventCounter : public QObject {
public:
    EventCounter(QObject* target, QEvent::Type type) : target_(target), type_(type) {
        target->installEventFilter(this);
    }
    ~EventCounter() override {
        if (target_ != nullptr) {
            target_->removeEventFilter(this);
        }
    }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == target_ && event->type() == type_) {
            ++count;
        }
        return false;
    }

private:
    QPointer<QObject> target_;
    QEvent::Type type_;
};

}  // namespace uitest
