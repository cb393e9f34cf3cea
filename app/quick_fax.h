// Quick faxes: the cover editor "Fax Cover Sheet Editor", its template chooser, and the cover data
// file (.FCD) next to each cover fax file, which keeps the cover's template, importance flags and
// message so that the cover can be edited again. The main window's EditAddQuickFax ties them to
// ZNOUT (quick_fax.cpp).
#pragma once
#include <QDialog>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

namespace zn::foundation::gui {
class TEnterEdit;
}

namespace zn::app {

// A cover data file: line 1 the template's file name, line 2 one character per importance flag
// (Urgent, For Review, Please Comment, Please Reply, Please Recycle: "X" set, " " not), then the
// message, one line each. Lines end in CR LF.
struct TCoverData {
    std::string TemplateName;
    std::string Flags; // as read; five characters when it was well formed
    std::vector<std::string> Message;
};

// The five flags as line 2 writes them.
std::string FlagsText(const bool flags[5]);
// The file's bytes.
std::string CoverDataBytes(const TCoverData& data);
// Reads the file (found in any letter case); nullopt when it does not exist or cannot be read.
std::optional<TCoverData> ReadCoverData(const std::string& path);
// Writes the file as one step (a temporary put in place), so a full disk keeps the old file whole.
// An existing file of another letter case is replaced under its own spelling. False on failure.
bool WriteCoverData(const std::string& path, const TCoverData& data);
// The template named by a cover data file: its name part, with the extension ".fct" unless the
// name's last character is a "T" in either case.
std::string TemplateOfCoverData(const std::string& line1);
// The cover data file of a cover fax file: the same name with the extension ".FCD".
std::string CoverDataPathOf(const std::string& coverPath);

class TCreateEditQuickFax : public QDialog {
    Q_OBJECT
public:
    explicit TCreateEditQuickFax(QWidget* parent = nullptr);

    foundation::gui::TEnterEdit *Recipient, *RecipientFax, *Regarding;
    QLineEdit *Notes, *Codes;
    QPlainTextEdit* FaxMessage;
    QGroupBox* ImportanceFlags;
    QCheckBox *cUrgent, *cForReview, *cPleaseComment, *cPleaseReply, *cPleaseRecycle;
    QLabel* CurrentQFileLabel;
    QPushButton *OkButton, *Cancelbutton, *Helpbutton, *ExplorerButton1, *ChangeSenderInfoButton, *AddressButton;

    std::string TemplateName;

    // The message's lines as typed (none for an empty memo).
    std::vector<std::string> MessageLines() const;
    void SetMessageLines(const std::vector<std::string>& lines);
    // The check boxes in the order of the flags line.
    QCheckBox* Flag(int index) const;

    void OkButtonClick();
    void ChangeSenderInfoButtonClick();
    void ExplorerButton1Click();
    void AddressButtonClick();
    void UpdateSenderHint();

protected:
    void showEvent(QShowEvent* event) override;
};

class TPreviewQuickFaxForms : public QDialog {
    Q_OBJECT
public:
    explicit TPreviewQuickFaxForms(QWidget* parent = nullptr);

    QListWidget* FileListBox1; // the *.FCT files of the covers folder
    QScrollArea* ScrollBox1;
    QLabel* Image1; // the template's preview
    QLabel* DescriptionPanel;
    QPushButton *OKButton, *Cancelbutton, *Helpbutton;
    std::string TemplateName;

    // Lists the template files of the folder.
    void SetFolder(const std::string& folder);
    void FileListBox1Change();
    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    std::string folder_;
};

} // namespace zn::app
