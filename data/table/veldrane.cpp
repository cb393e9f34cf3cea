#include "veldrane.h"

#include <algorithm>

#include "platform/date_format.h"
#include "xbase_vd.h"

namespace zn::data {

// Selects the dataset's work area around one engine call (or, without an active dataset, keeps
// the selected one) and selects the area before again when it differs.
class TVeldrane::Area {
public:
    explicit Area(TVeldrane& v)
    {
        if (!v.table_)
            return;
        own_ = v.table_->Active() ? v.table_->WorkArea() : 0;
        before_ = own_ ? vd_Select(own_) : vd_WorkArea(nullptr);
    }
    ~Area()
    {
        if (before_ != 0 && before_ != own_)
            vd_Select(before_);
    }
    Area(const Area&) = delete;
    Area& operator=(const Area&) = delete;
    bool Active() const { return own_ != 0; }

private:
    int own_ = 0, before_ = 0;
};

TVeldrane::~TVeldrane()
{
    if (table_ && link_)
        table_->RemoveLink(link_);
}

void TVeldrane::SetDataSource(TDataSource* source)
{
    if (table_ && link_)
        table_->RemoveLink(link_);
    link_ = 0;
    source_ = source;
    table_ = source ? source->DataSet() : nullptr;
    if (table_)
        link_ = table_->AddLink([this](TDataEvent e) { OnDataEvent(e); });
}

void TVeldrane::OnDataEvent(TDataEvent event)
{
    if (event == TDataEvent::deDataSetDestroyed) {
        table_ = nullptr;
        link_ = 0;
        return;
    }
    if (event != TDataEvent::deActiveChanged || !table_ || !table_->Active())
        return;
    if (!filter_.empty())
        Query(filter_);
    if (!extraIndexes_.empty())
        OpenExtraIndexes();
}

bool TVeldrane::CreateNew(const std::string& path, int driver, int fieldCount)
{
    int before = vd_WorkArea(nullptr);
    createArea_ = vd_CreateNew(path.c_str(), "XXXXXXXXXX", driver, fieldCount);
    if (before)
        vd_Select(before);
    return createArea_ != 0;
}

void TVeldrane::CreateField(const std::string& name, const std::string& type, int width, int decimals)
{
    if (!createArea_)
        return;
    int before = vd_Select(createArea_);
    vd_CreateField(name.c_str(), type.c_str(), width, decimals);
    if (before && before != createArea_)
        vd_Select(before);
}

bool TVeldrane::CreateExec()
{
    if (!createArea_)
        return false;
    int before = vd_Select(createArea_);
    bool written = vd_CreateExec() != 0;
    vd_Close();
    if (before && before != createArea_)
        vd_Select(before);
    createArea_ = 0;
    return written;
}

int TVeldrane::IndexTag(const std::string& file, const std::string& tag, const std::string& key, int option, int flag,
                        const std::string& condition)
{
    if (table_)
        table_->WritePosition();
    int order = 0;
    {
        Area area(*this);
        order = vd_IndexTag(file.c_str(), tag.c_str(), key.c_str(), option, flag, condition.c_str());
    }
    if (table_ && order > 0)
        table_->SetIndexName(tag);
    else if (table_)
        table_->Resync();
    return order;
}

int TVeldrane::IndexOpen(const std::string& file)
{
    if (table_)
        table_->WritePosition();
    int order = 0;
    std::string name;
    {
        Area area(*this);
        order = vd_IndexOpen(file.c_str());
        if (order > 0)
            name = vd_TagName(order);
    }
    if (table_ && order > 0)
        table_->SetIndexName(name);
    else if (table_)
        table_->Resync();
    return order;
}

void TVeldrane::CloseIndexes()
{
    {
        Area area(*this);
        vd_CloseIndexes();
    }
    if (table_ && table_->Active())
        table_->SetIndexName("");
}

int TVeldrane::SetOrder(int order)
{
    int before = IndexOrd();
    if (!table_) {
        Area area(*this);
        vd_SetOrder(order);
        return before;
    }
    if (order == 0) {
        table_->SetIndexName("");
    } else {
        std::string name;
        {
            Area area(*this);
            if (order <= vd_SysProp(3000, 0))
                name = vd_TagName(order);
        }
        if (!name.empty())
            table_->SetIndexName(name);
    }
    return before;
}

int TVeldrane::IndexOrd()
{
    Area area(*this);
    return vd_IndexOrd();
}

int TVeldrane::TagArea(const std::string& tag)
{
    Area area(*this);
    return vd_TagArea(tag.c_str());
}

std::string TVeldrane::TagName(int order)
{
    Area area(*this);
    return vd_TagName(order);
}

void TVeldrane::Pack()
{
    if (table_)
        table_->WritePosition();
    int result = 0;
    std::string why;
    {
        Area area(*this);
        result = vd_Pack();
        if (result < 0)
            why = vd_LastErrorText();
    }
    if (table_)
        table_->Resync();
    if (result < 0)
        throw EDatabaseError(result, why);
}

int TVeldrane::Query(const std::string& expression)
{
    filter_ = expression;
    if (!table_ || !table_->Active())
        return 0;
    table_->WritePosition();
    int result = 0;
    {
        Area area(*this);
        result = vd_Query(expression.empty() ? nullptr : expression.c_str());
    }
    table_->Resync();
    return result;
}

long TVeldrane::QueryRecCount()
{
    Area area(*this);
    return vd_QueryRecCount();
}

long TVeldrane::RecCount()
{
    Area area(*this);
    return vd_RecCount();
}

int TVeldrane::RecSize()
{
    Area area(*this);
    return vd_RecSize();
}

std::string TVeldrane::DBFilter()
{
    Area area(*this);
    return vd_DBFilter();
}

void TVeldrane::Go(long recno)
{
    if (table_)
        table_->WritePosition();
    {
        Area area(*this);
        vd_Go(recno);
    }
    if (table_ && table_->Active()) {
        // The dataset follows the engine to that record.
        if (recno >= 1 && recno <= RecCount())
            table_->GoToRecord(recno);
        else
            table_->Resync();
    }
}

long TVeldrane::RecNo()
{
    if (table_ && table_->Active() && table_->CurrentRecord().recno > 0)
        return table_->CurrentRecord().recno;
    return RecCount() + 1;
}

bool TVeldrane::Deleted()
{
    if (table_ && table_->Active()) {
        // While a grid row is calculated this is that row, not the current record.
        const TRecordBuffer& r = table_->ActiveRecord();
        if (r.raw.empty())
            return false;
        return r.raw[0] != ' ' && r.raw[0] != 'E';
    }
    Area area(*this);
    return vd_Deleted() != 0;
}

bool TVeldrane::EvalLogical(const std::string& expression)
{
    SyncRecNo();
    bool result = false;
    {
        Area area(*this);
        result = vd_EvalLogical(expression.c_str()) != 0;
    }
    RestoreRecNo();
    return result;
}

void TVeldrane::SyncRecNo()
{
    savedRecNo_ = 0;
    if (!table_ || !table_->Active() || table_->CurrentRecord().recno == 0)
        return;
    Area area(*this);
    long engine = vd_RecNo();
    if (engine != table_->CurrentRecord().recno) {
        savedRecNo_ = engine;
        vd_Go(table_->CurrentRecord().recno);
    }
}

void TVeldrane::RestoreRecNo()
{
    if (savedRecNo_ <= 0 || !table_ || !table_->Active())
        return;
    Area area(*this);
    vd_Go(savedRecNo_);
    savedRecNo_ = 0;
}

void TVeldrane::Delete()
{
    if (table_)
        table_->Delete();
}

bool TVeldrane::Bof() { return !table_ || table_->Bof(); }
bool TVeldrane::Eof() { return !table_ || table_->Eof(); }
bool TVeldrane::Active() { return table_ && table_->Active(); }

void TVeldrane::SetGaugeHook(std::function<void(int percent)> hook) { vd_SetGaugeHook(std::move(hook)); }

intptr_t TVeldrane::SysProp(int code, intptr_t value)
{
    Area area(*this);
    return vd_SysProp(code, value);
}

bool TVeldrane::IndexNeedsRebuild() { return SysProp(3001, 0) != 0; }

void TVeldrane::SetExtraIndexes(const std::vector<std::string>& files)
{
    extraIndexes_ = files;
    if (Active())
        OpenExtraIndexes();
}

void TVeldrane::OpenExtraIndexes()
{
    int remembered = IndexOrd();
    SetOrder(0);
    int first = 0;
    for (std::string file : extraIndexes_) {
        std::string name = file.substr(file.find_last_of("/\\") + 1);
        if (name.find('.') == std::string::npos) {
            if (driverKind_ == 4)
                file += ".NTX";
            else if (driverKind_ == 5)
                file += ".IDX";
            else if (driverKind_ == 6)
                file += ".NSX";
        }
        int order = IndexOpen(file);
        if (!first)
            first = order;
    }
    SetOrder(remembered ? remembered : first);
}

void TVeldrane::SetFastRead(bool on)
{
    fastRead_ = on;
    vd_SetFastRead(on ? 1 : 0);
}

// ---- TVeldraneEnv ----

namespace {
struct DateForm {
    char separator;
    const char* shortForm;
    const char* centuryForm;
};
// By TVeldraneDateFrmt.
const DateForm kDateForms[] = {
    {'/', "mm/dd/yy", "mm/dd/yyyy"}, // dfAmerican
    {'.', "yy.mm.dd", "yyyy.mm.dd"}, // dfAnsi
    {'/', "dd/mm/yy", "dd/mm/yyyy"}, // dfBritish
    {'/', "dd/mm/yy", "dd/mm/yyyy"}, // dfFrench
    {'.', "dd.mm.yy", "dd.mm.yyyy"}, // dfGerman
    {'-', "dd-mm-yy", "dd-mm-yyyy"}, // dfItalian
    {'-', "dd-mm-yy", "dd-mm-yyyy"}, // dfSpanish
};
char dateSeparator = '/';
} // namespace

char DateSeparator() { return dateSeparator; }

TVeldraneEnv::TVeldraneEnv() = default;

void TVeldraneEnv::SetExact(bool on)
{
    vd_SetExact(on);
    exact_ = on;
}

void TVeldraneEnv::SetCentury(bool on)
{
    vd_SetCentury(on);
    century_ = on;
    const DateForm& f = kDateForms[dateFormat_];
    platform::SetShortDateFormat(on ? f.centuryForm : f.shortForm);
}

void TVeldraneEnv::SetDateFormat(TVeldraneDateFrmt format)
{
    vd_SetDateFormat(format);
    dateFormat_ = format;
    const DateForm& f = kDateForms[format];
    dateSeparator = f.separator;
    platform::SetShortDateFormat(f.shortForm);
    if (century_)
        SetCentury(true);
}

void TVeldraneEnv::SetLockTimeout(long seconds)
{
    vd_SetLockTimeout(static_cast<int>(seconds));
    lockTimeout_ = seconds;
}

void TVeldraneEnv::SetMemoBlockSize(long size)
{
    vd_SetMemoBlockSize(static_cast<int>(size));
    memoBlockSize_ = size;
}

void TVeldraneEnv::SetSoftSeek(bool on)
{
    vd_SetSoftSeek(on);
    softSeek_ = on;
}

void TVeldraneEnv::SetDeleted(bool on)
{
    vd_SetDeleted(on);
    deleted_ = on;
}

} // namespace zn::data
