// A template's four files in the Covers folder, always written together: T.FCS (the items),
// T.FCT (the render file), T.DES (the description, its first line) and T.bmp (the preview).
// Names are found without regard to letter case.
#pragma once

#include "cover/design_filer.h"

#include <optional>
#include <string>
#include <vector>

namespace zn::cover {

// The render file of the items, in their order (kinds 0..8).
std::vector<uint8_t> RenderFileBytes(const std::vector<const TFaxGraphicControl*>& items);
void WriteRenderFile(const std::vector<const TFaxGraphicControl*>& items, const std::string& fileName);

// Writes the four files of template `fcsName` (any extension is replaced) as one step: all are
// written to temporaries first and put in place only when every one was written, so a failure
// (a full disk) keeps the old template whole. Throws TStreamError.
void SaveTemplate(const std::vector<const TFaxGraphicControl*>& items, const std::string& fcsName,
                  const std::string& description);
// Line 0 of the template's .DES; nullopt when there is no such file.
std::optional<std::string> ReadDescription(const std::string& templateName);
// The first of ZN0001.FCS .. ZN9999.FCS... (the last four digits of 10001 .. 99999) that no file
// of the folder has in any letter case; nullopt when all are taken.
std::optional<std::string> ProposeTemplateName(const std::string& coversFolder);
// Deletes the template's .FCS, .FCT, .DES and .BMP, each found in any letter case; missing ones
// are skipped. False when `fcsName` is no .FCS name.
bool DeleteTemplate(const std::string& fcsName);

} // namespace zn::cover
