// The file the main window's view and print commands hand on for an outgoing fax: the cover
// followed by the document, joined into a temporary file of the program folder ("Temp" + five
// digits + ".APF") that is removed when this goes; or the one of the two that exists.
#pragma once

#include <string>

namespace zn::app {

class TPreparedFax {
public:
    // Paths of the cover and the document; an empty path counts as a missing file.
    TPreparedFax(const std::string& coverPath, const std::string& documentPath);
    ~TPreparedFax();
    TPreparedFax(const TPreparedFax&) = delete;
    TPreparedFax& operator=(const TPreparedFax&) = delete;

    // Empty when neither file exists or the two could not be joined.
    const std::string& FileName() const { return fileName_; }
    bool Joined() const { return !temporary_.empty(); }

private:
    std::string fileName_;
    std::string temporary_;
};

} // namespace zn::app
