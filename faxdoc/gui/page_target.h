// Where the fax printer puts its sheets. The printer draws text and lines through the target's
// painter and hands it page bitmaps to place; a target stands for one print job at a time.
//
// TPrinterPageTarget prints through the toolkit's printer object (a CUPS queue or a PDF file);
// TImagePageTarget keeps every sheet as an image, for previews and tests.
#pragma once

#include "faxdoc/mono_bitmap.h"
#include "faxdoc/print_layout.h"

#include <QImage>
#include <QPainter>

#include <memory>
#include <string>
#include <vector>

class QPrinter;

namespace zn::faxdoc {

class TPageTarget {
public:
    virtual ~TPageTarget() = default;

    // Starts a job titled `title` on its first sheet. False when the device cannot start one.
    virtual bool BeginDoc(const std::string& title) = 0;
    virtual void NewPage() = 0;
    // Ends the job; false when the device failed to complete it.
    virtual bool EndDoc() = 0;
    // Drops the job: nothing of it reaches the device.
    virtual void Abort() = 0;
    // True between BeginDoc and EndDoc or Abort.
    virtual bool Printing() const = 0;

    virtual QPainter& Canvas() = 0;
    // The printable area of a sheet in device pixels, and its resolution.
    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    virtual int PixelsPerInch() const = 0;
    virtual bool Landscape() const = 0;

    // Draws a page bitmap scaled to `size` with its top-left corner at (left, top).
    virtual void DrawPage(const TMonoBitmap& page, int left, int top, TPrintSize size) = 0;
};

class TPrinterPageTarget : public TPageTarget {
public:
    explicit TPrinterPageTarget(QPrinter& printer) : printer_(printer) {}
    bool BeginDoc(const std::string& title) override;
    void NewPage() override;
    bool EndDoc() override;
    void Abort() override;
    bool Printing() const override { return printing_; }
    QPainter& Canvas() override { return painter_; }
    int PageWidth() const override;
    int PageHeight() const override;
    int PixelsPerInch() const override;
    bool Landscape() const override;
    // The device does the scaling: the page goes to it at its own resolution, so a PDF keeps every
    // pixel of the fax and the printer scales at its full resolution.
    void DrawPage(const TMonoBitmap& page, int left, int top, TPrintSize size) override;

private:
    QPrinter& printer_;
    QPainter painter_;
    bool printing_ = false;
};

class TImagePageTarget : public TPageTarget {
public:
    // Sheets of `width` x `height` pixels at `pixelsPerInch`.
    TImagePageTarget(int width, int height, int pixelsPerInch, bool landscape = false);
    ~TImagePageTarget() override;
    bool BeginDoc(const std::string& title) override;
    void NewPage() override;
    bool EndDoc() override;
    void Abort() override;
    bool Printing() const override { return printing_; }
    QPainter& Canvas() override { return painter_; }
    int PageWidth() const override { return width_; }
    int PageHeight() const override { return height_; }
    int PixelsPerInch() const override { return ppi_; }
    bool Landscape() const override { return landscape_; }
    // Scaled here with the black-keeping scaler, as a screen or printer driver would.
    void DrawPage(const TMonoBitmap& page, int left, int top, TPrintSize size) override;

    // The sheets of the last job that ended; empty after an abort.
    const std::vector<QImage>& Sheets() const { return sheets_; }
    const std::string& Title() const { return title_; }
    int Jobs() const { return jobs_; }

private:
    void StartSheet();
    void FinishSheet();

    int width_, height_, ppi_;
    bool landscape_;
    QPainter painter_;
    bool printing_ = false;
    QImage current_;
    std::vector<QImage> pending_;
    std::vector<QImage> sheets_;
    std::string title_;
    int jobs_ = 0;
};

} // namespace zn::faxdoc
