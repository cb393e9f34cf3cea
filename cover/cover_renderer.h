// The cover renderer: a render file (.FCT) filled with a TCoverValues record and drawn onto a
// black-and-white canvas, then either converted into a one-page fax file (the quick faxes' cover)
// or saved as the template's preview bitmap. Free procedures; nothing is kept between calls.
#pragma once

#include "cover/cover_types.h"
#include "cover/mono_canvas.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace zn::cover {

constexpr int kFaxPageWidth = 1728;
constexpr int kFaxPageHeight = 2156;
constexpr int kPreviewWidth = 816;
constexpr int kPreviewHeight = 1056;
// Every item is drawn this far right and down of its stored place, at any scale.
constexpr int kRenderOffset = 98;

// A cover that cannot be made: the system's result code and its text.
class ECoverError : public std::runtime_error {
public:
    ECoverError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

// Draws the render file's items onto the canvas; scale 1 for the fax page, 2 for the preview. A
// missing file draws nothing; a damaged one is drawn up to the first record that cannot be read.
// `message`: the lines of the fax's message (for message items).
void RenderCoverFile(TMonoCanvas& canvas, const std::string& fileName, const TCoverValues& values,
                     const std::vector<std::string>& message, int scale);
void RenderCoverBytes(TMonoCanvas& canvas, const std::vector<uint8_t>& bytes, const TCoverValues& values,
                      const std::vector<std::string>& message, int scale);

// Renders the template onto a fax page and converts it into a fax file: `faxName`, or when empty
// the first free "COVnnnnn.APF" of the SEND folder. Returns the name written. Throws ECoverError
// when the template is missing (a blank cover is never sent) or no name is free, and the
// converter's exceptions when the conversion fails.
std::string RenderCoverPageToFax(const std::string& faxName, const std::string& templateName,
                                 const TCoverValues& values, const std::vector<std::string>& message);

// The sample values of the preview.
TCoverValues PreviewValues();
// The preview's 1-bit .BMP file image of a render file's bytes.
std::vector<uint8_t> PreviewBitmap(const std::vector<uint8_t>& renderFile);
// Renders the template with the sample values at half size and saves it as the template's name
// with the extension ".bmp" (a 1-bit bitmap, written as one step). Returns that name.
std::string RenderCoverPreview(const std::string& templateName);

} // namespace zn::cover
