#include "cover/gui/mru_file_list.h"

#include "platform/ini_file.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace zn::cover::gui {

TMRUFileList::TMRUFileList(QObject* owner) : QObject(owner) {}

TMRUFileList::~TMRUFileList()
{
    if (AutoSave)
        SaveToIni();
    RemoveMenuItems();
}

void TMRUFileList::SetMaximum(int maximum)
{
    maximum_ = std::clamp(maximum, 0, 255);
    if (static_cast<int>(names_.size()) > maximum_) {
        names_.resize(static_cast<size_t>(maximum_));
        BuildMenu();
    }
}

void TMRUFileList::SetUseSubmenu(bool value)
{
    if (value == useSubmenu_)
        return;
    useSubmenu_ = value;
    BuildMenu();
}

void TMRUFileList::SetSubmenuName(const std::string& name)
{
    if (name == submenuName_)
        return;
    submenuName_ = name;
    if (useSubmenu_)
        BuildMenu();
}

void TMRUFileList::SetFileMenu(QMenu* menu)
{
    RemoveMenuItems();
    fileMenu_ = menu;
    BuildMenu();
}

void TMRUFileList::Add(const std::string& fileName)
{
    const auto it = std::find(names_.begin(), names_.end(), fileName); // exact, case-sensitive
    if (it != names_.end())
        names_.erase(it);
    names_.insert(names_.begin(), fileName);
    while (static_cast<int>(names_.size()) > maximum_)
        names_.pop_back();
    BuildMenu();
}

bool TMRUFileList::LoadFromIni()
{
    if (AutoSaveName.empty() || AutoSaveKey.empty())
        return false;
    const platform::IniFile ini(AutoSaveName);
    for (const std::string& key : ini.ReadSection(AutoSaveKey)) {
        const std::string value = ini.ReadString(AutoSaveKey, key, "");
        if (!value.empty() && static_cast<int>(names_.size()) < std::max(maximum_, 1) * 16)
            names_.push_back(value);
    }
    BuildMenu();
    return true;
}

bool TMRUFileList::SaveToIni()
{
    if (AutoSaveName.empty() || AutoSaveKey.empty())
        return false;
    platform::IniFile ini(AutoSaveName);
    // The section is written anew, so that no stale key of a longer list stays.
    bool ok = ini.EraseSection(AutoSaveKey);
    for (size_t i = 0; i < names_.size(); ++i)
        ok = ini.WriteString(AutoSaveKey, "F" + std::to_string(i), names_[i]) && ok;
    return ok;
}

void TMRUFileList::RemoveMenuItems()
{
    for (QAction* a : entries_) {
        if (fileMenu_)
            fileMenu_->removeAction(a);
        delete a->menu();
        delete a;
    }
    entries_.clear();
}

void TMRUFileList::BuildMenu()
{
    if (!fileMenu_)
        return;
    RemoveMenuItems();
    if (names_.empty())
        return;
    QAction* separator = new QAction(fileMenu_);
    separator->setSeparator(true);
    fileMenu_->addAction(separator);
    entries_.push_back(separator);
    QMenu* target = fileMenu_;
    if (useSubmenu_) {
        QMenu* sub = new QMenu(QString::fromStdString(submenuName_));
        QAction* subAction = sub->menuAction();
        fileMenu_->addAction(subAction);
        entries_.push_back(subAction);
        target = sub;
    }
    for (size_t i = 0; i < names_.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        QAction* entry =
            new QAction(QStringLiteral("&%1 %2").arg(number).arg(QString::fromStdString(names_[i])), target);
        connect(entry, &QAction::triggered, this, [this, number] { ItemClick(number); });
        target->addAction(entry);
        if (target == fileMenu_)
            entries_.push_back(entry);
    }
}

void TMRUFileList::ItemClick(int number)
{
    if (!OnMRUItemClick || number < 1 || number > static_cast<int>(names_.size()))
        return;
    const std::string name = names_[static_cast<size_t>(number - 1)];
    if (RemoveOnClick) {
        names_.erase(names_.begin() + (number - 1));
        BuildMenu();
    }
    OnMRUItemClick(name);
}

} // namespace zn::cover::gui
