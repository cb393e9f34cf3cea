#include "rebuild_indexes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdint>

#include "platform/folders.h"
#include "platform/message_box.h"
#include "system_tables.h"

namespace zn::data {

namespace {
// Posted to the window when the job is done; its handler closes the window once the loop runs.
const QEvent::Type kJobDone = static_cast<QEvent::Type>(QEvent::User + 0x42A);
// Progress arrives as a key-down whose key word, read as a signed 16-bit number, is the negated
// percentage; any of these bits marks such a key.
constexpr int kProgressKeyBits = 0x7000;
} // namespace

TRebuildInd::TRebuildInd(const RebuildTables& tables, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), tables_(tables),
      gauge_(new QProgressBar(this)), label_(new QLabel(this))
{
    setObjectName("RebuildInd");
    setWindowTitle("Rebuild Indexes");
    setModal(true);
    gauge_->setObjectName("Gauge1");
    gauge_->setRange(0, 100);
    gauge_->setValue(0);
    gauge_->setTextVisible(true);
    label_->setObjectName("WhatAmIDoing");
    label_->setVisible(false);
    gauge_->setVisible(false);
    label_->setMinimumWidth(340);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(gauge_);
    setFixedSize(400, 110);
}

TRebuildInd::~TRebuildInd() {}

void TRebuildInd::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Every activation comes through here; the job is queued once, to run after the window shows,
    // so that a second activation during the job cannot start a rebuild inside the first.
    if (queued_)
        return;
    queued_ = true;
    QTimer::singleShot(0, this, [this] { RunJob(); });
}

void TRebuildInd::SetCaption(const std::string& text)
{
    label_->setText(QString::fromStdString(text));
    label_->repaint();
}

void TRebuildInd::SetGauge(int percent)
{
    gauge_->setValue(percent);
    gauge_->repaint();
}

void TRebuildInd::keyPressEvent(QKeyEvent* event)
{
    int key = event->key();
    if (key & kProgressKeyBits) {
        SetGauge(-static_cast<int16_t>(static_cast<uint16_t>(key)));
        // Paint only: input waits, so nothing the user does can start a second job meanwhile.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TRebuildInd::event(QEvent* event)
{
    if (event->type() == kJobDone) {
        accept();
        return true;
    }
    return QDialog::event(event);
}

void TRebuildInd::RebuildTable(TTable& table, TVeldrane& veldrane, const std::string& removing,
                               const std::string& rebuilding, const std::vector<TagDef>& tags)
{
    veldrane.SetGaugeHook([this](int percent) {
        QKeyEvent key(QEvent::KeyPress, static_cast<uint16_t>(-percent), Qt::NoModifier);
        QApplication::sendEvent(this, &key);
    });
    struct HookOff {
        TVeldrane& v;
        ~HookOff() { v.SetGaugeHook({}); }
    } hookOff{veldrane};
    int order = veldrane.IndexOrd();
    std::string dbf = table.TableName();
    std::string cdx = tables_.programFolder + dbf.substr(0, dbf.size() >= 3 ? dbf.size() - 3 : 0) + "CDX";
    // The records are packed aside and renamed over the table before the tags are built again;
    // if anything fails on the way, the table keeps its rows and opens without the index, which
    // the next start rebuilds.
    veldrane.CloseIndexes();
    platform::DeleteFileCI(cdx);
    SetCaption(removing);
    SetGauge(0);
    veldrane.Pack();
    SetGauge(0);
    SetCaption(rebuilding);
    BuildTags(veldrane, tags, false);
    veldrane.SetOrder(order);
    (void)table;
}

void TRebuildInd::RunJob()
{
    ++runs_;
    label_->setText("");
    label_->setVisible(true);
    gauge_->setVisible(true);
    try {
        RebuildTable(*tables_.faxTable, *tables_.faxVeldrane, "Removing FAX file records marked for deletion",
                     "Rebuilding FAX file indexes", FaxTags());
        RebuildTable(*tables_.recTable, *tables_.recVeldrane, "Removing RECEIVE file records marked for deletion",
                     "Rebuilding RECEIVE file indexes", RecFaxTags());
        if (OpenPhoneDBF(*tables_.phoneTable, *tables_.phoneVeldrane, true, tables_.programFolder)) {
            RebuildTable(*tables_.phoneTable, *tables_.phoneVeldrane, "Removing PHONE file records marked for deletion",
                         "Rebuilding PHONE file indexes", PhoneTags());
            tables_.phoneVeldrane->SetOrder(tables_.phoneVeldrane->TagArea("NAME"));
            tables_.phoneTable->Close();
        }
    } catch (const std::exception& e) {
        error_ = e.what();
        platform::MessageBoxShow(error_, "Rebuild Indexes", platform::MB_OK | platform::MB_ICONERROR);
        // The window stays with what failed, and can now be closed.
        SetCaption(error_);
        label_->setWordWrap(true);
        setWindowFlag(Qt::WindowCloseButtonHint, true);
        setFixedSize(400, 140);
        show();
        return;
    }
    finished_ = true;
    QApplication::postEvent(this, new QEvent(kJobDone));
}

} // namespace zn::data
