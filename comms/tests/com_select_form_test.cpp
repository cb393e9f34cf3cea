// The port selection dialog, on Qt's offscreen platform.
#include "comms/gui/com_select_form.h"

#include "comms/port/com_port.h"
#include "comms/tests/pty_pair.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

using namespace zn::comms;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "com_select_form_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

} // namespace

TEST(ComSelectForm, ListsThePortsThatAreThereAndNotTheOthers)
{
    App();
    zn::comms::test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ::setenv("ZN_COM3", pty.SlavePath().c_str(), 1);
    ::setenv("ZN_COM4", "/dev/zn-missing-tty", 1);
    TComSelectForm form;
    EXPECT_EQ(form.windowTitle(), "Select Port");
    EXPECT_EQ(form.OkBtn->text(), "OK");
    EXPECT_EQ(form.AbortBtn->text(), "Cancel");
    EXPECT_GE(form.PortsComboBox->findText("COM3"), 0);
    EXPECT_LT(form.PortsComboBox->findText("COM4"), 0);
    EXPECT_EQ(form.PortsComboBox->currentIndex(), 0);
}

TEST(ComSelectForm, OkSetsThePortNumberAndCancelRaisesNoPortSelected)
{
    App();
    zn::comms::test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ::setenv("ZN_COM3", pty.SlavePath().c_str(), 1);
    InstallComSelectForm();
    auto answer = [](bool ok) {
        QTimer::singleShot(0, [ok] {
            auto* form = dynamic_cast<TComSelectForm*>(QApplication::activeModalWidget());
            ASSERT_NE(form, nullptr);
            form->PortsComboBox->setCurrentIndex(form->PortsComboBox->findText("COM3"));
            (ok ? form->OkBtn : form->AbortBtn)->click();
        });
    };
    TFxComPort port;
    answer(false);
    EXPECT_THROW(port.SetOpen(true), ENoPortSelected);
    answer(true);
    port.SetOpen(true);
    EXPECT_EQ(port.ComNumber(), 3);
    EXPECT_TRUE(port.Open());
    SetComSelectPrompt(nullptr);
}
