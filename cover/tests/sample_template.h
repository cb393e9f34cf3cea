// A cover template of every kind of item, and a photo-like picture, for the screenshots and the
// benchmark.
#pragma once

#include "cover/design_filer.h"

#include <QImage>

#include <string>

namespace zn::cover::test {

// Smooth shading with a few shapes, like a photograph: every grey level and colour occurs.
QImage SamplePhoto(int width, int height);
// Ten items: a heading, fields with their labels, the importance line, lines, a frame, a
// multi-line label, a message box and a picture (`photo`, reduced as the browser would).
TItemList SampleTemplate(const QImage& photo);
// The template's render file.
std::vector<uint8_t> RenderFileOf(const TItemList& items);

} // namespace zn::cover::test
