// The help-text dialog: a block of lines in a modal box that can copy or print them.
#pragma once
#include <QDialog>
#include <QStringList>

#include <functional>

class QPlainTextEdit;
class QPrinter;
class QPushButton;

namespace zn::foundation::gui {

class TShowAssistantHelpForm : public QDialog {
    Q_OBJECT
public:
    explicit TShowAssistantHelpForm(QWidget* parent = nullptr);

    QPlainTextEdit* Memo1;
    QPlainTextEdit* CopyPasteMemo; // hidden
    QPushButton* Button1;          // Copy to Clipboard
    QPushButton* Button3;          // Print
    QPushButton* okbutton;

    void SetLines(const QStringList& lines);
    int DesignedHeight() const { return designedHeight_; }
    int LineHeight() const; // height of "Wj" in the dialog's font
    int FindLongestLine(const QStringList& lines) const;

    void Button1Click();
    void Button3Click();

    // Tests answer the print dialog: false is Cancel; true prints on the printer as set up.
    using PrintDialogHook = std::function<bool(QPrinter& printer)>;
    static void SetPrintDialogHookForTest(PrintDialogHook hook);

private:
    int designedHeight_;
};

// Shows the lines modally under the caption.
void ShowAssistantHelpText(const QStringList& lines, const QString& caption);

// Prints the lines on the printer with the margins and the 11-point font of the help texts; returns
// the number of pages started.
int PrintHelpLines(const QStringList& lines, const QFont& font, QPrinter& printer);

} // namespace zn::foundation::gui
