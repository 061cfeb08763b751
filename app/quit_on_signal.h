#pragma once
// Ends the message loop in an orderly way when the process is asked to stop (SIGTERM, SIGINT,
// SIGHUP), so that what the entry point does after the loop (releasing the module link, saving
// the simulated module's state) still happens.

class QCoreApplication;

namespace tarven::app {

void QuitOnTerminationSignals(QCoreApplication& application);

}  // namespace tarven::app
