#include "mainwindow/QuitSignals.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {

int sockets[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void handler(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(sockets[0], &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QWidget *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    if (sockets[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets) != 0)
        return;
    m_notifier = new QSocketNotifier(sockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::arrived);
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (int sig : kSignals)
        ::signal(sig, SIG_DFL);
    delete m_notifier;
    ::close(sockets[0]);
    ::close(sockets[1]);
    sockets[0] = sockets[1] = -1;
}

void QuitSignals::arrived()
{
    char bytes[64];
    while (::read(sockets[1], bytes, sizeof bytes) > 0) {
    }
    // A second signal while the first one's quit waits for the user (a
    // failed save asks) changes nothing.
    if (m_closing || !m_window)
        return;
    m_closing = true;
    m_window->close();
    m_closing = false;
}

} // namespace qm
