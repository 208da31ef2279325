#include "ui/InputBlocker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::NonClientAreaMouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

}  // namespace

InputBlocker::InputBlocker(QWidget& window) : window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
}

InputBlocker::~InputBlocker() {
    // Input posted or queued by the window system while the run was busy is still waiting;
    // let it arrive now, while the filter is in place, so that none of it outlives the run.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputBlocker::AimsAtWindow(QObject* watched) const {
    if (watched->isWidgetType()) {
        // window() stops at the nearest top-level widget, so a dialog parented to the window
        // is a window of its own and keeps working.
        return static_cast<QWidget*>(watched)->window() == &window_;
    }
    if (watched->isWindowType()) {
        return watched == window_.windowHandle();
    }
    return false;
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (IsUserInput(type)) {
        if (AimsAtWindow(watched)) {
            event->accept();
            ++eaten_;
            return true;
        }
        return false;
    }
    // The title bar's close box and the system menu arrive as spontaneous close events; a
    // programmatic close (the platform's unload) still works.
    if (type == QEvent::Close && event->spontaneous() && AimsAtWindow(watched)) {
        event->ignore();
        ++eaten_;
        return true;
    }
    return false;
}
