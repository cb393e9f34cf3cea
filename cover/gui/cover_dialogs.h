// The cover items' dialogs ("Text", "Symbol Selector", "Multi-line Text Editor", "Load Image File"),
// the item editor over them, and the items' menus as widgets.
#pragma once

#include "cover/cover_items.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QComboBox;
class QScrollArea;
class QMenu;

namespace zn::cover::gui {

// Ok, Cancel and Help in a row, right-aligned; Help shows the dialog's help context.
class TDialogButtons;

class TFaxGetLabelText : public QDialog {
    Q_OBJECT
public:
    explicit TFaxGetLabelText(QWidget* parent = nullptr);
    QLineEdit* LabelText;
};

class TFaxGetSymbol : public QDialog {
    Q_OBJECT
public:
    explicit TFaxGetSymbol(QWidget* parent = nullptr);
    // The font of the list and sample; the list shows codes 32..255, entry i = code i + 32.
    void SetSymbolFont(const TFontSpec& font);
    const TFontSpec& SampleFont() const { return sample_; }
    // Columns by font size (6-10: 14 ... 61-72: 2, else 1).
    static int ColumnsForSize(int points);
    QString FontButtonCaption() const;
    QListWidget* SymbolList;
    QPushButton* Fontbutton;
    QLabel* SelectedChar;

private:
    void Refresh();
    TFontSpec sample_;
};

class TFaxMultiLineTextEditor : public QDialog {
    Q_OBJECT
public:
    explicit TFaxMultiLineTextEditor(QWidget* parent = nullptr);
    QPlainTextEdit* Memo;
};

// "Load Image File": folders on the left, the files of the mask below them, the chosen picture
// shown reduced to black and white as the fax will show it.
class TFaxImageBrowser : public QDialog {
    Q_OBJECT
public:
    explicit TFaxImageBrowser(QWidget* parent = nullptr);
    void SetDirectory(const QString& folder);
    QString Directory() const { return directory_; }
    // The selected file's full name; empty when none is selected.
    QString FileName() const;
    // The picture shown: the black-and-white version of the selected file (empty on failure).
    const TPicture& Picture() const { return picture_; }
    void SelectFile(const QString& name);

    QComboBox* DriveComboBox1;
    QListWidget* DirectoryListBox1;
    QListWidget* FileListBox1;
    QScrollArea* ScrollBox1;
    QLabel* Image1;
    QPushButton* OKButton;
    QPushButton* Cancelbutton;
    QPushButton* Helpbutton;
    QPushButton* AssistShowHintSpeedbutton4;

private:
    void FileListBox1Change();
    void FillLists();
    QLabel* folderLabel_;
    QString directory_;
    TPicture picture_;
    bool busy_ = false;
};

// TItemEditor with the real dialogs, parented to `parent`.
class TDialogItemEditor : public TItemEditor {
public:
    explicit TDialogItemEditor(QWidget* parent) : parent_(parent) {}
    std::optional<TFontSpec> EditFont(const TFontSpec& font, bool effects) override;
    std::optional<std::string> EditLabelText(const std::string& text) override;
    std::optional<TSymbolChoice> SelectSymbol(uint8_t code, const TFontSpec& font) override;
    std::optional<std::vector<std::string>> EditLines(const std::vector<std::string>& lines,
                                                      const TFontSpec& font) override;
    std::optional<TImageChoice> BrowseImage(const std::string& folder) override;
    void ShowError(const std::string& text) override;

private:
    QWidget* parent_;
};

// Fills `menu` with the entries (sub-menus, separators, check marks, enabled states).
void BuildMenu(QMenu& menu, std::vector<TMenuEntry>& entries);

// Template fonts and the toolkit's: size, style and the name.
QFont ToQFont(const TFontSpec& font);
TFontSpec FromQFont(const QFont& font, uint32_t color);

} // namespace zn::cover::gui
