// TPrePrintForm ("Print"): the page range and the print options asked for before a fax is printed.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace zn::app {

class TPrePrintForm : public QDialog {
    Q_OBJECT
public:
    explicit TPrePrintForm(QWidget* parent = nullptr);

    QSpinBox* FromPage;
    QSpinBox* ToPage;
    QCheckBox* PrintMultiPage;
    QCheckBox* PrintHeader;
    QCheckBox* PrintFooter;
    QCheckBox* StretchToFit;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

private:
    void BitBtn1Click();
};

} // namespace zn::app
