#include "cover/gui/designer_window.h"

#include "cover/gui/mru_file_list.h"
#include "cover/gui/template_dialogs.h"
#include "cover/template_files.h"
#include "faxdoc/file_names.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/gui/assistant_pello.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <exception>

namespace zn::cover::gui {

namespace {

constexpr const char* kFontSection = "CD Default Font";
constexpr int kPageMarginLeft = 10, kPageMarginTop = 8;

const char* const kTipTitles[] = {
    "How do I add a new object to the drawing surface?", "How do I select a drawing object?",
    "How do I change an object's properties?",           "How do I change the font for an object?",
    "How do I change the color of an object?",           "How do I move an object?                    ",
    "How do I resize an object?                  ",      "How do I add a Logo or picture?",
};
const char* const kTipAnswers[] = {
    "Click a drawing tool on the tool bar, then drag a rectangle on the blank surface where the object "
    "should go. When the object is placed, the pointer tool is selected again.",
    "Choose the pointer tool and click the object with the left mouse button. Eight small squares, called "
    "handles, appear around it. Hold Shift to add more objects, or drag a frame around several.",
    "Click the object with the right mouse button: its properties menu lists what can be changed.",
    "Right-click the object and choose \"FONT\" from its menu.",
    "Right-click the object: the colour settings are in its menu.",
    "Select the object and drag it with the mouse to its new place; the arrow keys move it one pixel.",
    "Select the object and drag one of its handles; Shift and the arrow keys also resize it.",
    "Choose the Image tool and drag where the picture should go, then pick a *.BMP, *.JPG, *.JIF or *.WMF "
    "file. Fax images are black and white only.",
};

std::string FileNameOnly(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

QToolButton* ToolButton(QWidget* parent, const char* name, const char* caption, const char* hint)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(caption);
    b->setToolTip(hint);
    b->setCheckable(true);
    return b;
}

QPushButton* PushButton(QWidget* parent, const char* name, const char* caption, const char* hint)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setAutoDefault(false);
    return b;
}

QAction* MenuItem(QMenu* menu, const char* name, const char* caption)
{
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    return a;
}

} // namespace

TCoverDesMainScreen::TCoverDesMainScreen(QWidget* parent, TFaxBasePanel::TClock clock) : QDialog(parent)
{
    setObjectName("CoverDesMainScreen");
    setWindowTitle(kTitle);
    resize(602, 404);
    QFont arial("Arial");
    arial.setPointSize(9);
    setFont(arial);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    column->setMenuBar(MainMenu1);

    Panel2 = new QWidget(this);
    Panel2->setObjectName("Panel2");
    column->addWidget(Panel2);

    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName("ScrollBox1");
    ScrollBox1->setBackgroundRole(QPalette::Mid);
    ScrollBox1->setStyleSheet("QScrollArea > QWidget > QWidget#Page { background: silver; }");
    page_ = new QWidget;
    page_->setObjectName("Page");
    LabelPanel = new TFaxCoverPanelX(page_, std::move(clock));
    LabelPanel->move(kPageMarginLeft, kPageMarginTop);
    LabelPanel->DrawOutline = true;
    LabelPanel->SetShape(lsRectangle);
    LabelPanel->SetGridSize(gs4x4);
    FitScrolledPage();
    ScrollBox1->setWidget(page_);
    column->addWidget(ScrollBox1, 1);

    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    auto* bottom = new QHBoxLayout(Panel1);
    Helpbutton = PushButton(Panel1, "Helpbutton", "Help", "Click for Windows help");
    SaveButton = PushButton(Panel1, "SaveButton", "&Save", "Click to save changes");
    SaveButton->setDefault(true);
    SaveButton->hide();
    CancelButton = PushButton(Panel1, "CancelButton", "&Cancel", "Click to cancel changes");
    Assistbutton = PushButton(Panel1, "Assistbutton", "Quick tips", "Show Quick Tips");
    CloseButton = PushButton(Panel1, "CloseButton", "E&xit", "Click to exit");
    bottom->addWidget(Helpbutton);
    bottom->addWidget(Assistbutton);
    bottom->addStretch();
    bottom->addWidget(SaveButton);
    bottom->addWidget(CancelButton);
    bottom->addWidget(CloseButton);
    column->addWidget(Panel1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);

    assistant_ = std::make_unique<foundation::gui::TAssistantPello>(this);
    assistant_->Caption = "Quick Tips";
    for (const char* title : kTipTitles)
        assistant_->Titles << title;
    for (const char* answer : kTipAnswers)
        assistant_->Answers << answer;

    BuildTools();
    BuildMenu();
    // The designed size, widened to what the tool bar needs, so that the window is made with the
    // size it keeps.
    resize(QSize(602, 404).expandedTo(minimumSizeHint()));

    LabelPanel->DroppedObjectEvent = [this](const QRect&) {
        LabelPanel->SetPanelState(psPointing);
        Pointerbutton->setChecked(true);
    };
    LabelPanel->HandleMouseMoveEvent = [this](Qt::KeyboardModifiers, int, int) { LabelPanelHandleMouseMoveEvent(); };
    LabelPanel->MouseUpEvent = [this] {
        if (autoScrolled_) {
            LabelPanel->update();
            autoScrolled_ = false;
        }
    };
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(foundation::kCoverDesignerHelpContext); });
    connect(SaveButton, &QPushButton::clicked, this,
            [this] { currentFile_.empty() ? mnuSaveAsClick() : mnuSaveClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(Assistbutton, &QPushButton::clicked, this, [this] { assistant_->Execute(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });

    // FormCreate
    activating_ = true;
    autoScrolled_ = false;
    LoadPreferences();
    SetDefaultFontCaption();
    recentFiles_ = std::make_unique<TMRUFileList>();
    recentFiles_->SetFileMenu(FileMenu);
    recentFiles_->RemoveOnClick = true;
    recentFiles_->SetMaximum(5);
    recentFiles_->OnMRUItemClick = [this](const std::string& file) { RecentFileClick(file); };
    recentFiles_->AutoSaveName = foundation::GetIniFileName();
    recentFiles_->AutoSaveKey = "CDMRU";
    recentFiles_->AutoSave = false;
    recentFiles_->LoadFromIni();
}

TCoverDesMainScreen::~TCoverDesMainScreen() = default;

void TCoverDesMainScreen::BuildTools()
{
    auto* row = new QHBoxLayout(Panel2);
    row->setContentsMargins(4, 2, 4, 2);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    struct TTool {
        QToolButton** button;
        const char* name;
        const char* caption;
        const char* hint;
        TLPanelState state;
    };
    const TTool tools[] = {
        {&Pointerbutton, "Pointerbutton", "Select",
         "Selection tool -  use this tool to select existing items\non the cover sheet", psPointing},
        {&DrawLabelButton, "DrawLabelButton", "Text",
         "Text tool - use this tool to place static text on the\ncover sheet template", psLabel},
        {&DrawMLTextButton, "DrawMLTextButton", "Multi", "Multi-line text tool", psMultiLineLabel},
        {&DrawSymbolButton, "DrawSymbolButton", "Symbol",
         "Symbol tool - use this tool to place a symbol character on the cover sheet template", psSymbolLabel},
        {&DrawRectanglebutton, "DrawRectanglebutton", "Rect", "Rectangle tool - use this tool to draw a rectangle",
         psRectangle},
        {&DrawEllipseButton, "DrawEllipseButton", "Ellipse",
         "Ellipse tool - use this tool to draw an ellipse or a circle", psEllipse},
        {&DrawRoundrectbutton, "DrawRoundrectbutton", "Round",
         "Rounded rectangle tool - use this tool to draw a rectangle with rounded corners", psRoundRectangle},
        {&DrawLinebutton, "DrawLinebutton", "Line", "Line tool - use this tool to draw a line", psLine},
        {&FieldBoxButton, "FieldBoxButton", "Field",
         "Field tool - use this tool to place a field that is filled in when the fax is sent, such as the date or the "
         "recipient",
         psField},
        {&DrawMessageButton, "DrawMessageButton", "Message",
         "Message tool - use this tool to place the short message of the fax", psMessage},
        {&DrawImportanceButton, "DrawImportanceButton", "Urgent",
         "Importance tool - use this tool to place the urgent, for review, comment, reply and recycle boxes",
         psImportance},
        {&ImageButton, "ImageButton", "Image",
         "Image Tool - use this tool to place an image on the cover sheet template", psImage},
    };
    for (const TTool& tool : tools) {
        QToolButton* b = *tool.button = ToolButton(Panel2, tool.name, tool.caption, tool.hint);
        group->addButton(b);
        row->addWidget(b);
        const TLPanelState state = tool.state;
        connect(b, &QToolButton::clicked, this, [this, state] { LabelPanel->SetPanelState(state); });
    }
    Pointerbutton->setChecked(true);
    row->addSpacing(12);
    ZoomSpinner = new QWidget(Panel2);
    ZoomSpinner->setObjectName("ZoomSpinner");
    ZoomSpinner->setToolTip("Press plus (+) or minus (-) to \nincrease or decrease the zoom percentage");
    auto* spin = new QHBoxLayout(ZoomSpinner);
    spin->setContentsMargins(0, 0, 0, 0);
    spin->setSpacing(0);
    ZoomSpinnerDown = new QToolButton(ZoomSpinner);
    ZoomSpinnerDown->setObjectName("ZoomSpinnerDown");
    ZoomSpinnerDown->setArrowType(Qt::LeftArrow);
    ZoomSpinnerUp = new QToolButton(ZoomSpinner);
    ZoomSpinnerUp->setObjectName("ZoomSpinnerUp");
    ZoomSpinnerUp->setArrowType(Qt::RightArrow);
    spin->addWidget(ZoomSpinnerDown);
    spin->addWidget(ZoomSpinnerUp);
    row->addWidget(ZoomSpinner);
    ZoomCaption = new QLabel("100%", Panel2);
    ZoomCaption->setObjectName("ZoomCaption");
    ZoomCaption->setStyleSheet("color: navy");
    ZoomCaption->setMinimumWidth(40);
    row->addWidget(ZoomCaption);
    ShowGrid = ToolButton(Panel2, "ShowGrid", "Grid", "Show grid toggle");
    SnapToGrid = ToolButton(Panel2, "SnapToGrid", "Snap", "Snap to Grid toggle");
    row->addWidget(ShowGrid);
    row->addWidget(SnapToGrid);
    row->addStretch();
    connect(ZoomSpinnerUp, &QToolButton::clicked, this, [this] { ZoomSpinnerUpClick(); });
    connect(ZoomSpinnerDown, &QToolButton::clicked, this, [this] { ZoomSpinnerDownClick(); });
    connect(ShowGrid, &QToolButton::toggled, this, [this](bool down) { LabelPanel->SetShowGrid(down); });
    connect(SnapToGrid, &QToolButton::toggled, this, [this](bool down) { LabelPanel->SetSnapToGrid(down); });
}

void TCoverDesMainScreen::BuildMenu()
{
    FileMenu = MainMenu1->addMenu("&File");
    FileMenu->setObjectName("FileMenu");
    New1 = MenuItem(FileMenu, "New1", "&New");
    Open1 = MenuItem(FileMenu, "Open1", "&Open");
    Delete1 = MenuItem(FileMenu, "Delete1", "&Delete");
    FileMenu->addSeparator();
    mnuSave = MenuItem(FileMenu, "mnuSave", "Save");
    mnuSave->setShortcut(QKeySequence("Ctrl+S"));
    mnuSaveAs = MenuItem(FileMenu, "mnuSaveAs", "Save &As...");
    CreateBMPfromFaxCoverSheet1 = MenuItem(FileMenu, "CreateBMPfromFaxCoverSheet1", "Preview Saved Templates");
    FileMenu->addSeparator();
    mnuDefaultFont = MenuItem(FileMenu, "mnuDefaultFont", "&Default Font - ");
    FileMenu->addSeparator();
    Exit1 = MenuItem(FileMenu, "Exit1", "E&xit");
    connect(New1, &QAction::triggered, this, [this] { New1Click(); });
    connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
    connect(Delete1, &QAction::triggered, this, [this] { Delete1Click(); });
    connect(mnuSave, &QAction::triggered, this, [this] { mnuSaveClick(); });
    connect(mnuSaveAs, &QAction::triggered, this, [this] { mnuSaveAsClick(); });
    connect(CreateBMPfromFaxCoverSheet1, &QAction::triggered, this, [this] { CreateBMPfromFaxCoverSheet1Click(); });
    connect(mnuDefaultFont, &QAction::triggered, this, [this] { mnuDefaultFontClick(); });
    connect(Exit1, &QAction::triggered, this, [this] { CloseButtonClick(); });
}

std::string TCoverDesMainScreen::CoversFolder() const
{
    const std::string folder = foundation::GetCoversFolder();
    platform::EnsureFolderCI(folder); // a failure shows when a file is written there
    return folder;
}

void TCoverDesMainScreen::FitScrolledPage()
{
    page_->setFixedSize(LabelPanel->width() + 2 * kPageMarginLeft, LabelPanel->height() + 2 * kPageMarginTop);
}

// ---- activation and closing ----------------------------------------------------------------------

void TCoverDesMainScreen::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (activating_)
        FirstActivation();
}

void TCoverDesMainScreen::FirstActivation()
{
    foundation::LoadFormPlacement(*this);
    QCoreApplication::processEvents();
    LabelPanel->hide();
    SetChangesMade(false);
    LabelPanel->LabelChangedEvent = [this] {
        if (!activating_)
            SetChangesMade(true);
    };
    SaveButton->hide();
    const std::vector<std::string>& names = recentFiles_->Names();
    if (!names.empty() && platform::FileExistsCI(names.front()))
        OpenLabelFile(platform::ResolvePath(names.front()));
    SetChangesMade(false);
    LabelPanel->show();
    QCoreApplication::processEvents();
    SetButtons();
    LabelPanel->LastImagePath = foundation::Settings().LastUsedImageFilePath;
    activating_ = false;
}

void TCoverDesMainScreen::closeEvent(QCloseEvent* event)
{
    // Closing from the title bar asks about unsaved changes as Exit does.
    if (!saveChecked_)
        CheckSaveNeeded();
    saveChecked_ = false;
    foundation::Settings().LastUsedImageFilePath = LabelPanel->LastImagePath;
    SavePreferences();
    foundation::SaveFormPlacement(*this);
    Timer1->stop();
    event->accept();
}

void TCoverDesMainScreen::reject()
{
    // Esc works the Cancel button, and only while it is shown: it never closes the window unasked.
    if (CancelButton->isVisible())
        CancelButtonClick();
}

void TCoverDesMainScreen::CloseButtonClick()
{
    CheckSaveNeeded();
    saveChecked_ = true;
    close();
}

void TCoverDesMainScreen::CheckSaveNeeded()
{
    if (!changesMade_ || !foundation::AskYesNo("Save changes?", "Save"))
        return;
    if (currentFile_.empty()) {
        mnuSaveAsClick();
        SetChangesMade(false); // also when Save As was cancelled
    } else {
        mnuSaveClick();
        changesMade_ = false;
    }
}

// ---- state ---------------------------------------------------------------------------------------

void TCoverDesMainScreen::SetChangesMade(bool value)
{
    changesMade_ = value;
    CancelButton->setVisible(value);
    SaveButton->setVisible(value);
    SaveButton->setText(currentFile_.empty() ? "&Save As" : "&Save");
    mnuSave->setEnabled(!currentFile_.empty());
}

void TCoverDesMainScreen::SetButtons()
{
    mnuSave->setEnabled(!currentFile_.empty());
    setWindowTitle(currentDescription_.empty() ? QString(kTitle)
                                               : QString(kTitle) + " - " + QString::fromStdString(currentDescription_));
}

// ---- files ---------------------------------------------------------------------------------------

void TCoverDesMainScreen::OpenLabelFile(const std::string& file)
{
    const float zoom = LabelPanel->Zoom();
    if (zoom != 1.0f)
        LabelPanel->SetSurfaceZoom(1.0f);
    activating_ = true;
    LabelPanel->ClearItems();
    try {
        TFaxDesignObjectFiler filer;
        LabelPanel->SetItems(filer.LoadFromFile(file, LabelPanel->NameCheck()));
        currentFile_ = file;
        recentFiles_->Add(file);
        recentFiles_->SaveToIni();
    } catch (const std::exception&) {
        LabelPanel->ClearItems();
        currentFile_.clear();
        currentDescription_.clear();
        foundation::ShowInformation("Unable to open " + file + ". Possibly corrupted, posibly not a Tessaline file");
    }
    SetChangesMade(false);
    QCoreApplication::processEvents();
    activating_ = false;
    SetButtons();
    if (zoom != 1.0f)
        LabelPanel->SetSurfaceZoom(zoom);
    if (!currentFile_.empty()) {
        currentDescription_ = ReadDescription(currentFile_).value_or("");
        SetButtons();
    }
    LabelPanel->update();
}

void TCoverDesMainScreen::SaveLabelFile(const std::string& file, const std::string& description)
{
    const float zoom = LabelPanel->Zoom();
    if (zoom != 1.0f)
        LabelPanel->SetSurfaceZoom(1.0f);
    LabelPanel->PurgeItems();
    // The four files go in place together, or none of them does.
    SaveTemplate(LabelPanel->ItemList(), file, description);
    if (zoom != 1.0f)
        LabelPanel->SetSurfaceZoom(zoom);
    QCoreApplication::processEvents();
}

void TCoverDesMainScreen::mnuSaveClick()
{
    LabelPanel->PurgeItems();
    if (currentFile_.empty()) {
        QApplication::beep();
        return;
    }
    const std::string description = ReadDescription(currentFile_).value_or("[description]");
    try {
        SaveLabelFile(currentFile_, description);
    } catch (const std::exception& e) {
        foundation::ShowMessageBox(e.what(), "Error", platform::MB_ICONERROR);
        return;
    }
    SetChangesMade(false);
}

void TCoverDesMainScreen::mnuSaveAsClick()
{
    LabelPanel->PurgeItems();
    TSaveTemplateAs dialog(CoversFolder(), this);
    if (currentFile_.empty()) {
        const auto proposed = ProposeTemplateName(CoversFolder().substr(0, CoversFolder().size() - 1));
        dialog.TemplateName->setText(QString::fromStdString(proposed ? FileNameOnly(*proposed) : ""));
        dialog.TemplateDescription->setText("[Description]");
    } else {
        dialog.TemplateName->setText(QString::fromStdString(FileNameOnly(currentFile_)));
        dialog.TemplateDescription->setText(
            QString::fromStdString(ReadDescription(currentFile_).value_or("[description]")));
    }
    if (dialog.exec() == QDialog::Accepted) {
        const std::string file = platform::ResolvePath(CoversFolder() + dialog.TemplateName->text().toStdString());
        const std::string description = dialog.TemplateDescription->text().toStdString();
        try {
            SaveLabelFile(file, description);
            currentFile_ = file;
            currentDescription_ = description;
            SetChangesMade(false);
            recentFiles_->Add(file);
            recentFiles_->SaveToIni();
        } catch (const std::exception& e) {
            foundation::ShowMessageBox(e.what(), "Error", platform::MB_ICONERROR);
        }
    }
    SetButtons();
}

void TCoverDesMainScreen::New1Click()
{
    // Unsaved work is asked about first, as Exit and the recent list do.
    CheckSaveNeeded();
    currentFile_.clear();
    currentDescription_.clear();
    LabelPanel->ClearItems();
    SetChangesMade(false);
    LabelPanel->update();
    SetButtons();
}

void TCoverDesMainScreen::Open1Click()
{
    TPreviewCovers dialog(CoversFolder(), this);
    dialog.SelectedName = FileNameOnly(currentFile_);
    if (dialog.exec() == QDialog::Accepted && !dialog.SelectedPath().empty()) {
        CheckSaveNeeded();
        currentFile_ = dialog.SelectedPath();
        OpenLabelFile(currentFile_);
    }
    SetButtons();
}

void TCoverDesMainScreen::RecentFileClick(const std::string& file)
{
    CheckSaveNeeded();
    if (platform::FileExistsCI(file))
        OpenLabelFile(platform::ResolvePath(file));
    else
        foundation::ShowInformation(file + " no longer exists");
}

void TCoverDesMainScreen::Delete1Click()
{
    QFileDialog dialog(this, "Delete Fax Cover Template File", QString::fromStdString(CoversFolder()),
                       "Fax Cover Template (*.FCS *.fcs)");
    dialog.setObjectName("OpenDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string file = dialog.selectedFiles().front().toStdString();
    if (QString::fromStdString(file).right(4).toUpper() != ".FCS") {
        foundation::ShowInformation("Must be a FCS (Fax Cover Template) file");
        return;
    }
    if (foundation::AskYesNo("Delete " + file + "?", "CONFIRM"))
        DeleteTemplate(file);
}

void TCoverDesMainScreen::CancelButtonClick()
{
    if (!foundation::AskYesNo("Cancel all changes?", "CANCEL"))
        return;
    LabelPanel->ClearItems();
    if (!currentFile_.empty())
        OpenLabelFile(currentFile_);
    SetChangesMade(false);
    LabelPanel->update();
}

void TCoverDesMainScreen::CreateBMPfromFaxCoverSheet1Click()
{
    TPreviewCovers dialog(CoversFolder(), this);
    dialog.setWindowTitle("Preview Fax Cover Templates");
    dialog.SetBrowseOnly();
    dialog.exec();
}

// ---- zoom ----------------------------------------------------------------------------------------

void TCoverDesMainScreen::ZoomSpinnerUpClick()
{
    activating_ = true;
    LabelPanel->Handle().ClearSelection();
    const float zoom = LabelPanel->Zoom();
    if (!(zoom > 1.5f))
        LabelPanel->SetSurfaceZoom(zoom + 0.1f);
    ZoomCaption->setText(QString::number(std::lround(LabelPanel->Zoom() * 100.0)) + "%");
    FitScrolledPage();
    QCoreApplication::processEvents();
    activating_ = false;
}

void TCoverDesMainScreen::ZoomSpinnerDownClick()
{
    activating_ = true;
    LabelPanel->Handle().ClearSelection();
    const float zoom = LabelPanel->Zoom();
    if (zoom >= 0.5f)
        LabelPanel->SetSurfaceZoom(zoom - 0.1f);
    ZoomCaption->setText(QString::number(std::lround(LabelPanel->Zoom() * 100.0)) + "%");
    FitScrolledPage();
    QCoreApplication::processEvents();
    activating_ = false;
}

// ---- keys ----------------------------------------------------------------------------------------

void TCoverDesMainScreen::keyPressEvent(QKeyEvent* event)
{
    QScrollBar* bar = ScrollBox1->verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); return;
    case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); return;
    case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); return;
    case Qt::Key_End: bar->triggerAction(QAbstractSlider::SliderToMaximum); return;
    default: break;
    }
    if (!LabelPanel->KeyDown(event->key(), event->modifiers()))
        QDialog::keyPressEvent(event);
}

void TCoverDesMainScreen::keyReleaseEvent(QKeyEvent* event)
{
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    if (keypad && event->key() == Qt::Key_Plus)
        ZoomSpinnerUpClick();
    else if (keypad && event->key() == Qt::Key_Minus)
        ZoomSpinnerDownClick();
    else
        QDialog::keyReleaseEvent(event);
}

// ---- auto-scroll ---------------------------------------------------------------------------------

void TCoverDesMainScreen::LabelPanelHandleMouseMoveEvent()
{
    if (!LabelPanel->IsDragging())
        return;
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    const QRect box = ScrollBox1->geometry();
    if (cursor.y() < box.top() || cursor.y() > box.bottom())
        Timer1->start();
    else
        Timer1->stop();
}

void TCoverDesMainScreen::Timer1Timer()
{
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    const QRect box = ScrollBox1->geometry();
    if (cursor.x() > box.left() && cursor.x() < box.right()) {
        QScrollBar* bar = ScrollBox1->verticalScrollBar();
        if (cursor.y() < box.top())
            for (int i = 0; i < 4; ++i)
                bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else if (cursor.y() > box.bottom())
            for (int i = 0; i < 4; ++i)
                bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        LabelPanel->update();
        autoScrolled_ = true;
    }
    Timer1->stop();
}

// ---- preferences ---------------------------------------------------------------------------------

void TCoverDesMainScreen::LoadPreferences()
{
    const platform::IniFile ini(foundation::GetIniFileName());
    TFontSpec font;
    font.name = ini.ReadString(kFontSection, "Name", "Arial");
    font.SetSize(ini.ReadInteger(kFontSection, "Size", 10));
    font.bold = ini.ReadBool(kFontSection, "Bold", false);
    font.italic = ini.ReadBool(kFontSection, "Italic", false);
    font.underline = ini.ReadBool(kFontSection, "Underline", false);
    LabelPanel->SurfaceFont = font;
}

void TCoverDesMainScreen::SavePreferences()
{
    platform::IniFile ini(foundation::GetIniFileName());
    const TFontSpec& font = LabelPanel->SurfaceFont;
    ini.WriteString(kFontSection, "Name", font.name);
    ini.WriteInteger(kFontSection, "Size", font.Size());
    ini.WriteBool(kFontSection, "Bold", font.bold);
    ini.WriteBool(kFontSection, "Italic", font.italic);
    ini.WriteBool(kFontSection, "Underline", font.underline);
}

std::string TCoverDesMainScreen::DefaultFontCaption() const
{
    const TFontSpec& font = LabelPanel->SurfaceFont;
    return "Default Font: " + font.name + ", " + std::to_string(font.Size()) + " pt " + (font.bold ? ", bold" : "")
           + (font.italic ? ", italic" : "");
}

void TCoverDesMainScreen::SetDefaultFontCaption()
{
    mnuDefaultFont->setText(QString::fromStdString(DefaultFontCaption()));
}

void TCoverDesMainScreen::mnuDefaultFontClick()
{
    TItemEditor* editor = LabelPanel->Editor();
    if (!editor)
        return;
    if (const auto font = editor->EditFont(LabelPanel->SurfaceFont, false)) {
        LabelPanel->SurfaceFont = *font;
        SetDefaultFontCaption();
        SavePreferences();
    }
}

void ShowCoverDesigner(QWidget* parent)
{
    TCoverDesMainScreen designer(parent);
    designer.exec();
}

} // namespace zn::cover::gui
