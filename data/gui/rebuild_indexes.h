// The "Rebuild Indexes" window: removes the rows marked deleted from ZNOUT, ZNREC and ZNPB and
// builds all their tags again, showing the engine's progress on a gauge. It works on the main
// window's own datasets and table components. The job runs once, queued after the window shows;
// when it ends the window closes itself. A failed step is reported, the job stops there, and the
// window stays open until the user closes it; every table keeps its rows and stays openable.
#pragma once
#include <QDialog>
#include <string>

#include "dataset.h"
#include "system_tables.h"
#include "veldrane.h"

class QLabel;
class QProgressBar;

namespace zn::data {

struct RebuildTables {
    TTable* faxTable;
    TVeldrane* faxVeldrane;
    TTable* recTable;
    TVeldrane* recVeldrane;
    TTable* phoneTable;
    TVeldrane* phoneVeldrane;
    std::string programFolder; // ends in "/"
};

class TRebuildInd : public QDialog {
public:
    explicit TRebuildInd(const RebuildTables& tables, QWidget* parent = nullptr);
    ~TRebuildInd() override;

    // True once the whole job has finished; the error text of a failed step otherwise.
    bool Finished() const { return finished_; }
    const std::string& Error() const { return error_; }
    int JobRuns() const { return runs_; }

    QProgressBar* Gauge1() const { return gauge_; }
    QLabel* WhatAmIDoing() const { return label_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void RunJob();
    void RebuildTable(TTable& table, TVeldrane& veldrane, const std::string& removing, const std::string& rebuilding,
                      const std::vector<TagDef>& tags);
    void SetCaption(const std::string& text);
    void SetGauge(int percent);

    RebuildTables tables_;
    QProgressBar* gauge_;
    QLabel* label_;
    bool queued_ = false;
    bool finished_ = false;
    int runs_ = 0;
    std::string error_;
};

} // namespace zn::data
