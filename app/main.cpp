#include "app/main_screen.h"
#include "comms/base/string_resource.h"
#include "comms/tapi/serial_line_provider.h"
#include "foundation/locale_formats.h"
#include "foundation/settings.h"
#include "foundation/single_instance.h"
#include "platform/termination_signals.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

namespace {

int RunProgram(QApplication& app)
{
    // The string tables are part of the program: a broken one stops the start.
    try {
        zn::comms::OpenStringTables();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Tarvel", QString::fromLocal8Bit(e.what()));
        return 1;
    }
    zn::foundation::ReloadLocaleFormats();
    zn::foundation::Settings().ProgramVersion = zn::app::kProgramVersion;
    QApplication::setApplicationName("Tarvel");
    zn::foundation::TOneInstance oneInstance(nullptr); // a second start ends here with exit code 0
    // The machine's serial modems are the line devices the modem forms offer.
    zn::comms::tapi::SerialLineProvider lineProvider;
    zn::comms::tapi::SetLineProvider(&lineProvider);
    zn::app::TMainScreen mainScreen;
    zn::foundation::TPreviousInstance::Get().SetInstanceWindow(&mainScreen);
    // A restore request from a second start is an activation: it picks up waiting print jobs.
    zn::foundation::TPreviousInstance::Get().SetRestoreObserver([&mainScreen] { mainScreen.FormActivate(); });
    zn::platform::WatchTerminationSignals([&mainScreen](int) { mainScreen.EndBySignal(); });
    mainScreen.show();
    const int exitCode = app.exec();
    zn::comms::tapi::SetLineProvider(nullptr);
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    // The lock and the window title follow the program file's name, which the title rule wants as
    // ZN.EXE (it gives "ZN"), whatever this binary is called.
    zn::foundation::TPreviousInstance::OneInstanceInitialization("ZN.EXE");
    QApplication app(argc, argv);
    const int result = RunProgram(app);
    // Ended by SIGTERM or SIGINT: the port and the tables are closed by now.
    if (const int signal = zn::platform::TerminationSignal())
        zn::platform::EndAsSignalled(signal);
    return result;
}
