// The design object filer: moves cover items between the design surface and the component
// stream (.FCS templates, the clipboard file, clones). A template is a list of item records, each
// "TPF0", the class name, the component name, the stored properties and two list ends.
#pragma once

#include "cover/cover_items.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zn::cover {

using TItemList = std::vector<std::unique_ptr<TFaxGraphicControl>>;

class TFaxDesignObjectFiler {
public:
    // Whether a name is already owned by the designer form (the items on the surface and any
    // other component of the form).
    using TNameTaken = std::function<bool(const std::string& name)>;

    bool PasteOffset = false;

    // The bytes of a template with these items, in this order.
    static std::vector<uint8_t> Encode(const std::vector<const TFaxGraphicControl*>& items);
    // Items of a template's bytes, named "Component0".. as the names are free. Throws TStreamError on
    // a truncated or corrupt stream or an unknown class; nothing of a failed read is returned.
    TItemList Decode(const std::vector<uint8_t>& bytes, const TNameTaken& taken) const;

    // Writes the file as one step (a failed write keeps the old file). Throws TStreamError.
    static void SaveToFile(const std::vector<const TFaxGraphicControl*>& items, const std::string& fileName);
    // Nothing selected: nothing written, the file left as it was.
    static void SaveSelection(const std::vector<const TFaxGraphicControl*>& selection, const std::string& fileName);
    // A missing file gives no items.
    TItemList LoadFromFile(const std::string& fileName, const TNameTaken& taken) const;
    TItemList PasteFromFile(const std::string& fileName, const TNameTaken& taken);
    std::unique_ptr<TFaxGraphicControl> CloneItem(const TFaxGraphicControl& item, const TNameTaken& taken) const;
};

// Whole files, read and written as one step; every write goes through a temporary file that then
// takes the old file's place. Failures throw TStreamError with the system's text.
std::vector<uint8_t> ReadFileBytes(const std::string& fileName);
void WriteFileAtomically(const std::string& fileName, const std::vector<uint8_t>& bytes);

} // namespace zn::cover
