// TComSelectForm: lets the user pick a serial port when the port component has none configured.
// It lists "COM1" to "COM50", each port that is there (opens, or is held by another program).
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace zn::comms {

class TComSelectForm : public QDialog {
public:
    explicit TComSelectForm(QWidget* parent = nullptr);

    QComboBox* PortsComboBox = nullptr;
    QPushButton* OkBtn = nullptr;
    QPushButton* AbortBtn = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
};

// Makes the port component ask through TComSelectForm (shown modally) when no port is configured.
void InstallComSelectForm();

} // namespace zn::comms
