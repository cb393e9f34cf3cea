// The recent-files list of a File menu: the most recent names first, shown as numbered entries at
// the end of the menu (or before the item it is attached to), kept in a section of an INI file as
// "F0", "F1", ...
#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace zn::cover::gui {

class TMRUFileList : public QObject {
    Q_OBJECT
public:
    explicit TMRUFileList(QObject* owner = nullptr);
    ~TMRUFileList() override; // saves first when AutoSave is on

    int Maximum() const { return maximum_; }
    void SetMaximum(int maximum);
    bool RemoveOnClick = true;
    bool UseSubmenu() const { return useSubmenu_; }
    void SetUseSubmenu(bool value);
    const std::string& SubmenuName() const { return submenuName_; }
    void SetSubmenuName(const std::string& name);
    QMenu* FileMenu() const { return fileMenu_; }
    // The entries go at the end of the menu.
    void SetFileMenu(QMenu* menu);
    bool AutoSave = true;
    std::string AutoSaveName = "\\Software\\My Application";
    std::string AutoSaveKey = "MRU Items";
    // (file name) of a clicked entry.
    std::function<void(const std::string&)> OnMRUItemClick;

    const std::vector<std::string>& Names() const { return names_; }
    void Add(const std::string& fileName);
    bool LoadFromIni();
    bool SaveToIni();
    // The entries now in the menu (separator, submenu and numbered entries).
    std::vector<QAction*> Entries() const { return entries_; }
    // What clicking entry `number` (1-based) does.
    void ItemClick(int number);

private:
    void BuildMenu();
    void RemoveMenuItems();

    int maximum_ = 5;
    bool useSubmenu_ = false;
    std::string submenuName_ = "Reopen";
    QMenu* fileMenu_ = nullptr;
    std::vector<std::string> names_;
    std::vector<QAction*> entries_;
};

} // namespace zn::cover::gui
