#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#include "app/quit_on_signal.h"

namespace tarven::app {
namespace {

// A signal handler may only write to a descriptor; the loop reads the other end and quits.
int signal_pipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe[0], &byte, 1);
}

}  // namespace

void QuitOnTerminationSignals(QCoreApplication& application) {
  if (signal_pipe[0] != -1) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) != 0) return;
  auto* notifier = new QSocketNotifier(signal_pipe[1], QSocketNotifier::Read, &application);
  QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(signal_pipe[1], &byte, 1);
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

}  // namespace tarven::app
