// Drives a modal dialog from a test: when the dialog shows, the next step
// runs inside its event loop, and while the dialog stays open after a step
// (a refused button, a failed check) the step after it runs too. When the
// dialog is open with no step left, the script rejects it, so that a test
// never hangs, and notes it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>

namespace tegalo::testing_support {

class DialogScript : public QObject {
public:
    explicit DialogScript(QDialog& dialog) : dialog_(&dialog) { dialog.installEventFilter(this); }
    ~DialogScript() override {
        if (dialog_) {
            dialog_->removeEventFilter(this);
        }
    }

    // Queues a step.
    DialogScript& Then(std::function<void()> step) {
        steps_.push_back(std::move(step));
        return *this;
    }

    int Shown() const { return shown_; }
    // True when every step ran and the dialog did not show once more.
    bool Done() const { return steps_.empty() && !overrun_; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == dialog_ && event->type() == QEvent::Show) {
            ++shown_;
            QTimer::singleShot(0, this, [this] { RunNext(); });
        }
        return false;
    }

private:
    void RunNext() {
        if (!dialog_ || !dialog_->isVisible()) {
            return;
        }
        if (steps_.empty()) {
            overrun_ = true;
            dialog_->reject();
            return;
        }
        std::function<void()> step = std::move(steps_.front());
        steps_.pop_front();
        step();
        if (dialog_ && dialog_->isVisible()) {
            QTimer::singleShot(0, this, [this] { RunNext(); });
        }
    }

    QPointer<QDialog> dialog_;
    std::deque<std::function<void()>> steps_;
    int shown_ = 0;
    bool overrun_ = false;
};

} // namespace tegalo::testing_support
