// "Cover Sheet Template Designer": the design surface in a scroll box, the drawing tools, zoom and
// grid toggles, the File menu with the recent templates, and the questions before unsaved changes
// are lost. A template T is four files in the Covers folder, written together: T.FCS, T.FCT, T.DES
// and T.bmp.
#pragma once

#include "cover/gui/design_surface.h"

#include <QDialog>

#include <string>

class QAction;
class QButtonGroup;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollArea;
class QTimer;
class QToolButton;

namespace zn::foundation::gui {
class TAssistantPello;
}

namespace zn::cover::gui {

class TMRUFileList;

class TCoverDesMainScreen : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Cover Sheet Template Designer";

    explicit TCoverDesMainScreen(QWidget* parent = nullptr, TFaxBasePanel::TClock clock = nullptr);
    ~TCoverDesMainScreen() override;

    const std::string& CurrentFile() const { return currentFile_; }
    const std::string& CurrentDescription() const { return currentDescription_; }
    bool ChangesMade() const { return changesMade_; }
    TMRUFileList& RecentFiles() { return *recentFiles_; }

    void OpenLabelFile(const std::string& file);
    void SaveLabelFile(const std::string& file, const std::string& description);
    void mnuSaveClick();
    void mnuSaveAsClick();
    void New1Click();
    void Open1Click();
    void Delete1Click();
    void CancelButtonClick();
    void CloseButtonClick();
    // Esc: the Cancel button while it is shown.
    void reject() override;
    void CreateBMPfromFaxCoverSheet1Click();
    void mnuDefaultFontClick();
    void ZoomSpinnerUpClick();
    void ZoomSpinnerDownClick();
    // True when the work may be dropped: nothing unsaved, or the user's answer was dealt with.
    void CheckSaveNeeded();
    void RecentFileClick(const std::string& file);
    void SetChangesMade(bool value);
    void SetButtons();
    std::string DefaultFontCaption() const;
    // Auto-scroll while items are dragged above or below the scroll box.
    void LabelPanelHandleMouseMoveEvent();
    void Timer1Timer();
    bool AutoScrolled() const { return autoScrolled_; }

    TFaxCoverPanelX* LabelPanel;
    QScrollArea* ScrollBox1;
    QWidget* Panel1;
    QWidget* Panel2;
    QPushButton *Helpbutton, *SaveButton, *CancelButton, *Assistbutton, *CloseButton;
    QToolButton *Pointerbutton, *DrawLabelButton, *DrawMLTextButton, *DrawSymbolButton, *DrawRectanglebutton,
        *DrawEllipseButton, *DrawRoundrectbutton, *DrawLinebutton, *FieldBoxButton, *DrawMessageButton,
        *DrawImportanceButton, *ImageButton;
    QWidget* ZoomSpinner;
    QToolButton *ZoomSpinnerUp, *ZoomSpinnerDown;
    QLabel* ZoomCaption;
    QToolButton *ShowGrid, *SnapToGrid;
    QMenuBar* MainMenu1;
    QMenu* FileMenu;
    QAction *New1, *Open1, *Delete1, *mnuSave, *mnuSaveAs, *CreateBMPfromFaxCoverSheet1, *mnuDefaultFont, *Exit1;
    QTimer* Timer1;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void BuildTools();
    void BuildMenu();
    void FirstActivation();
    void LoadPreferences();
    void SavePreferences();
    void SetDefaultFontCaption();
    void FitScrolledPage();
    std::string CoversFolder() const;

    std::unique_ptr<TMRUFileList> recentFiles_;
    std::unique_ptr<foundation::gui::TAssistantPello> assistant_;
    QWidget* page_; // the silver area around the surface inside the scroll box
    std::string currentFile_, currentDescription_;
    bool activating_ = true;
    bool changesMade_ = false;
    bool autoScrolled_ = false;
    bool saveChecked_ = false; // the close in progress already asked about unsaved changes
};

// The main window's command: the designer, modal, freed when it closes.
void ShowCoverDesigner(QWidget* parent);

} // namespace zn::cover::gui
