#include "foundation/single_instance.h"
#include "ptf/main_form.h"

#include <QApplication>
#include <QMessageBox>

#include "comms/base/exceptions.h"
#include "comms/base/string_resource.h"
#include "platform/termination_signals.h"
#include <exception>

int main(int argc, char** argv)
{
    // A lock of its own (ZNPTF.EXE), so that znptf runs beside zn.
    zn::foundation::TPreviousInstance::OneInstanceInitialization("ZNPTF.EXE");
    QApplication app(argc, argv);
    // The string tables are part of the program: a broken one stops the start.
    try {
        zn::comms::OpenStringTables();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Tarvel", QString::fromLocal8Bit(e.what()));
        return 1;
    }
    {
        zn::foundation::TOneInstance oneInstance; // a second start ends here with exit code 0
    }
    QApplication::setApplicationName("Tarvel NT Print To Fax");
    // Only the tray menu's Close (or the end of the session) ends the program, not a closed dialog.
    QApplication::setQuitOnLastWindowClosed(false);
    std::unique_ptr<zn::ptf::TMainForm> mainForm;
    try {
        mainForm = std::make_unique<zn::ptf::TMainForm>();
    } catch (const zn::comms::EFXException& e) {
        QMessageBox::critical(nullptr, "Tarvel NT Print To Fax", QString::fromLocal8Bit(e.what()));
        return 1;
    }
    zn::platform::WatchTerminationSignals([&mainForm](int) { mainForm->EndBySignal(); });
    const int result = app.exec();
    mainForm.reset(); // the channel closes before the program ends
    // Ended by SIGTERM or SIGINT: a job being filled in is kept by now.
    if (const int signal = zn::platform::TerminationSignal())
        zn::platform::EndAsSignalled(signal);
    return result;
}
