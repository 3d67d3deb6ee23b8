#pragma once

// Helpers for tests that drive real windows, including the nested event
// loops of modal dialogs.

#include "common/TestFiles.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace testing {

// Parent of every pending watcher, so a test can drop the ones it left.
inline QObject *pendingWatchers()
{
    static QObject *registry = new QObject;
    return registry;
}

// Call from cleanup(): a watcher left by one test must not act on the next.
inline void cancelPendingWatchers()
{
    qDeleteAll(pendingWatchers()->children());
}

// Runs `action` on the first visible top-level widget of type T (and
// matching `accept`) once it appears, from inside whatever modal loop is
// running then. Gives up after `timeoutMs`; `fired` tells whether it ran.
template<typename T>
std::shared_ptr<bool> whenShown(std::function<void(T *)> action,
                                std::function<bool(T *)> accept = nullptr, int timeoutMs = kPatience)
{
    auto fired = std::make_shared<bool>(false);
    auto timer = new QTimer(pendingWatchers());
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(15);
    QObject::connect(timer, &QTimer::timeout, [=] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *t = qobject_cast<T *>(w);
            if (t && t->isVisible() && (!accept || accept(t))) {
                timer->stop();
                timer->deleteLater();
                *fired = true;
                action(t);
                return;
            }
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
    return fired;
}

// Answers the next message box by clicking the button with that text
// (or the default button when `buttonText` is empty); keeps its text.
inline std::shared_ptr<QString> answerMessageBox(const QString &buttonText = QString())
{
    auto text = std::make_shared<QString>();
    whenShown<QMessageBox>([=](QMessageBox *box) {
        *text = box->text() + QLatin1Char('\n') + box->informativeText();
        QAbstractButton *button = box->defaultButton();
        for (QAbstractButton *b : box->buttons()) {
            if (!buttonText.isEmpty() && b->text() == buttonText)
                button = b;
        }
        if (button)
            button->click();
        else
            box->reject();
    });
    return text;
}

} // namespace testing
