// The designer's two template dialogs: choosing (or browsing) the templates of the Covers folder
// with their preview and description, and the name and description a template is saved under.
#pragma once

#include <QDialog>

#include <string>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollArea;

namespace zn::cover::gui {

// The templates (*.FCS in any letter case) of a folder, sorted without regard to case.
QStringList TemplateFiles(const QString& folder, const QString& extension);

class TPreviewCovers : public QDialog {
    Q_OBJECT
public:
    explicit TPreviewCovers(const std::string& coversFolder, QWidget* parent = nullptr);
    // The entry chosen (or to preselect, compared in upper case): a file name without folder.
    std::string SelectedName;
    // The folder and the chosen entry's name; empty when none is selected.
    std::string SelectedPath() const;
    // Browsing only: no Cancel, the OK button in its place.
    void SetBrowseOnly();
    void FileListBox1Change();

    QListWidget* FileListBox1;
    QScrollArea* ScrollBox1;
    QLabel* Image1;
    QLabel* DescriptionPanel;
    QPushButton* OKButton;
    QPushButton* Cancelbutton;
    QPushButton* Helpbutton;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string folder_;
    QHBoxLayout* buttonRow_;
};

class TSaveTemplateAs : public QDialog {
    Q_OBJECT
public:
    explicit TSaveTemplateAs(const std::string& coversFolder, QWidget* parent = nullptr);
    // 1 to 12 characters ending in ".FCS" (any case) after an identifier.
    static bool ValidTemplateName(const std::string& name);
    void TemplateNameChange();
    void FileListBox1Click();

    QLineEdit* TemplateName;
    QLineEdit* TemplateDescription;
    QListWidget* FileListBox1;
    QLabel* InvalidFileName;
    QPushButton* OKButton;
    QPushButton* Cancelbutton;
    QPushButton* Helpbutton;

private:
    std::string folder_;
};

} // namespace zn::cover::gui
