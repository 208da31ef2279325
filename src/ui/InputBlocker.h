#pragma once

#include <QObject>

class QWidget;

// Keeps the user's hands off one window while a run works on the window's own thread.
//
// A run does not return to the event loop, but it does let pending events through now and then
// so that the window keeps painting. Input that arrives meanwhile must not start a second run,
// close the window or edit the log, and it must not be merely deferred either: deferred input
// would be delivered once the run returns, and a Start click queued during a run would start
// another one. So every input event aimed at the window or one of its widgets is eaten for as
// long as the blocker lives, and the window-system close is refused. Other windows, such as
// the modal dialogs a run opens, are not affected.
class InputBlocker : public QObject {
public:
    explicit InputBlocker(QWidget& window);
    // Eats the input that is still queued from the blocked period, then lets input through.
    ~InputBlocker() override;

    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

    // How many events were eaten so far.
    int Eaten() const { return eaten_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool AimsAtWindow(QObject* watched) const;

    QWidget& window_;
    int eaten_ = 0;
};
