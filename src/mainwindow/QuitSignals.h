#pragma once

#include <QObject>
#include <QPointer>

class QSocketNotifier;
class QWidget;

namespace qm {

// SIGTERM, SIGINT and SIGHUP end the program as Quit does: work in
// progress stops, its partial files go, and changes are saved. The handler
// itself only writes a byte to a socket; the event loop reads it and
// closes the window. One at a time; the default handlers come back when
// this goes.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QWidget *window, QObject *parent = nullptr);
    ~QuitSignals() override;

private:
    void arrived();

    QPointer<QWidget> m_window;
    QSocketNotifier *m_notifier = nullptr;
    bool m_closing = false;
};

} // namespace qm
