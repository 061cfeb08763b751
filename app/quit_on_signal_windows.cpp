// Windows: the console's control handler (Ctrl-C, Ctrl-Break, the console window closed, the
// user logging off) asks the message loop to end. The handler runs on a thread of the system's,
// so the request is queued to the loop's own thread.
#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>

#include "app/quit_on_signal.h"

namespace tarven::app {
namespace {

QCoreApplication* quitting = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  if (quitting == nullptr) return FALSE;
  QMetaObject::invokeMethod(quitting, &QCoreApplication::quit, Qt::QueuedConnection);
  return TRUE;
}

}  // namespace

void QuitOnTerminationSignals(QCoreApplication& application) {
  if (quitting != nullptr) return;
  quitting = &application;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace tarven::app
