// Drives a modal dialog from inside its own event loop: the action runs once a widget of type T is the
// active modal widget (checked every 10 ms, given up after 5 s so a missing dialog fails the test instead
// of hanging it).
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

template <class T>
void WhenModal(std::function<void(T*)> action, int triesLeft = 500) {
    QTimer::singleShot(triesLeft == 500 ? 0 : 10, [action, triesLeft] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
            action(widget);
        } else if (triesLeft > 0) {
            WhenModal<T>(action, triesLeft - 1);
        } else {
            qWarning("no modal dialog came up");
        }
    });
}
