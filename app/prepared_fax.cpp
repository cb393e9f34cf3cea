#include "app/prepared_fax.h"

#include "foundation/fax_file_join.h"
#include "foundation/fax_file_names.h"

#include <cstdio>

namespace zn::app {

TPreparedFax::TPreparedFax(const std::string& coverPath, const std::string& documentPath)
{
    const bool cover = !coverPath.empty() && foundation::IsExistingFile(coverPath);
    const bool document = !documentPath.empty() && foundation::IsExistingFile(documentPath);
    if (cover && document) {
        const auto name = foundation::MakeUniqueProgramFileName("Temp");
        if (!name)
            return;
        if (!foundation::ConcatFaxFiles(*name, coverPath, documentPath)) {
            std::remove(name->c_str());
            return;
        }
        fileName_ = temporary_ = *name;
    } else if (cover) {
        fileName_ = coverPath;
    } else if (document) {
        fileName_ = documentPath;
    }
}

TPreparedFax::~TPreparedFax()
{
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

} // namespace zn::app
