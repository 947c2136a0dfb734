#include "launcher/termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tarv {
namespace {

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onSignal(int number)
{
    if (signalled) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    signalled = 1;
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

} // namespace

void quitOnTermination()
{
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    // Signals only write a byte; the event loop reads it and quits in its own time.
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[1], &byte, 1);
        notifier->setEnabled(false);
        // exit(), not quit(): a window that refuses to close (the karaoke window ends karaoke mode
        // instead) must not keep the program running.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

} // namespace tarv
