#include "dataset.h"

#include <algorithm>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/date_format.h"
#include "platform/folders.h"
#include "xbase_vd.h"

namespace zn::data {
namespace {

// An engine call that failed: its negative code and text go into the exception.
void EngineCheck(int result)
{
    if (result < 0)
        throw EDatabaseError(result, vd_LastErrorText());
}

bool AllBlank(const char* p, int width)
{
    for (int i = 0; i < width; ++i)
        if (p[i] != ' ' && p[i] != '\0')
            return false;
    return true;
}

// Character fields hold their text in the tables' code page, Windows ANSI (1252); the program's
// text is UTF-8. Bytes 0x80-0x9F are 1252's own characters (where 1252 has none, the C1 control of
// the same number, so that every byte reads back as it was written); the rest is Latin-1.
constexpr char16_t kAnsiHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool Ascii(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}

QString AnsiToText(const char* p, size_t n)
{
    if (Ascii(p, n))
        return QString::fromLatin1(p, static_cast<qsizetype>(n));
    QString text;
    text.reserve(static_cast<qsizetype>(n));
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        text += QChar(b >= 0x80 && b < 0xA0 ? kAnsiHigh[b - 0x80] : char16_t(b));
    }
    return text;
}

// A character 1252 cannot hold becomes '?'.
std::string TextToAnsi(const std::string& utf8)
{
    if (Ascii(utf8.data(), utf8.size()))
        return utf8;
    const QString text = QString::fromStdString(utf8);
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i; // one character outside the 16-bit range, one '?'
        char b = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            b = static_cast<char>(c);
        } else {
            const char16_t* found = std::find(std::begin(kAnsiHigh), std::end(kAnsiHigh), c);
            if (found != std::end(kAnsiHigh))
                b = static_cast<char>(0x80 + (found - std::begin(kAnsiHigh)));
        }
        out += b;
    }
    return out;
}

std::string TrimRight(std::string s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

std::string TrimLeft(std::string s)
{
    size_t i = s.find_first_not_of(' ');
    return i == std::string::npos ? std::string() : s.substr(i);
}

// Raw "YYYYMMDD" digits; anything that is not a valid date reads as no date, since other programs
// write such values and a grid paints them over and over.
QDate RawDate(const char* p)
{
    int parts[3] = {0, 0, 0};
    const int lengths[3] = {4, 2, 2};
    int at = 0;
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < lengths[k]; ++i, ++at) {
            if (p[at] < '0' || p[at] > '9')
                return QDate();
            parts[k] = parts[k] * 10 + (p[at] - '0');
        }
    }
    return QDate(parts[0], parts[1], parts[2]);
}

// Fixed-point text, halves rounded away from zero (printf would round them to even).
std::string FormatFixed(double value, int decimals)
{
    double scale = std::pow(10.0, decimals);
    double scaled = std::round(std::fabs(value) * scale * (1 + 1e-15));
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.0f", scaled);
    std::string text = digits;
    if (decimals > 0) {
        if (static_cast<int>(text.size()) <= decimals)
            text.insert(0, static_cast<size_t>(decimals) + 1 - text.size(), '0');
        text.insert(text.size() - static_cast<size_t>(decimals), ".");
    }
    if (value < 0 && scaled != 0)
        text.insert(0, "-");
    return text;
}

std::string RightAligned(const std::string& text, int width)
{
    return std::string(static_cast<size_t>(width) - text.size(), ' ') + text;
}

} // namespace

TFieldType FieldTypeOf(char letter, int width, int decimals)
{
    switch (letter) {
    case 'C': return TFieldType::ftString;
    case 'D': return TFieldType::ftDate;
    case 'B':
    case 'M':
    case 'P': return TFieldType::ftBlob;
    case 'L': return TFieldType::ftBoolean;
    case 'N':
        if (decimals > 0 || width >= 5)
            return TFieldType::ftFloat;
        return TFieldType::ftSmallint;
    default: return TFieldType::ftInvalid;
    }
}

// Selects the table's work area for the length of a call and selects the one before again.
class TTable::AreaScope {
public:
    explicit AreaScope(int area) : area_(area), before_(vd_Select(area)) {}
    ~AreaScope()
    {
        if (before_ != 0 && before_ != area_)
            vd_Select(before_);
    }
    AreaScope(const AreaScope&) = delete;
    AreaScope& operator=(const AreaScope&) = delete;

private:
    int area_, before_;
};

// ---- TField ----

TField::TField(TTable& table, std::string name, char letter, int width, int decimals, int fieldNo, int offset)
    : table_(table), name_(std::move(name)), letter_(letter), type_(FieldTypeOf(letter, width, decimals)),
      width_(width), decimals_(decimals), fieldNo_(fieldNo), offset_(offset),
      displayWidth_(std::max(width, static_cast<int>(name_.size())))
{
    if (type_ == TFieldType::ftDate)
        displayWidth_ = 10;
}

int TField::Index() const
{
    for (int i = 0; i < table_.FieldCount(); ++i)
        if (&table_.Fields(i) == this)
            return i;
    return -1;
}

void TField::SetIndex(int index)
{
    auto& fields = table_.fields_;
    int from = Index();
    index = std::clamp(index, 0, static_cast<int>(fields.size()) - 1);
    if (from < 0 || from == index)
        return;
    auto moving = std::move(fields[static_cast<size_t>(from)]);
    fields.erase(fields.begin() + from);
    fields.insert(fields.begin() + index, std::move(moving));
    table_.Notify(TDataEvent::deLayoutChange);
}

void TField::SetVisible(bool visible)
{
    if (visible_ == visible)
        return;
    visible_ = visible;
    table_.Notify(TDataEvent::deLayoutChange);
}

const char* TField::Raw() const
{
    const TRecordBuffer* r = table_.active_;
    if (!r || Calculated() || static_cast<int>(r->raw.size()) < offset_ + width_)
        return nullptr;
    return r->raw.data() + offset_;
}

char* TField::WritableRaw()
{
    table_.RequireEditing();
    if (Calculated())
        return nullptr;
    std::string& raw = table_.editing_.raw;
    if (static_cast<int>(raw.size()) < offset_ + width_)
        return nullptr;
    return raw.data() + offset_;
}

std::string* TField::Calc() const
{
    TRecordBuffer* r = const_cast<TRecordBuffer*>(table_.active_);
    if (!r || !Calculated())
        return nullptr;
    return &r->calc[name_];
}

bool TField::IsNull() const
{
    if (Calculated()) {
        std::string* c = Calc();
        return !c || c->empty();
    }
    const char* p = Raw();
    if (!p || AllBlank(p, width_))
        return true;
    if (type_ == TFieldType::ftDate)
        return !RawDate(p).isValid();
    return false;
}

std::string TField::AsString() const
{
    if (Calculated()) {
        std::string* c = Calc();
        return c ? *c : std::string();
    }
    if (IsNull() || type_ == TFieldType::ftBlob)
        return std::string();
    const char* p = Raw();
    std::string text(p, static_cast<size_t>(width_));
    switch (type_) {
    case TFieldType::ftBoolean: return AsBoolean() ? "T" : "F";
    case TFieldType::ftSmallint:
    case TFieldType::ftFloat: return TrimLeft(TrimRight(text));
    case TFieldType::ftString: {
        const std::string ansi = TrimRight(text);
        return Ascii(ansi.data(), ansi.size()) ? ansi : AnsiToText(ansi.data(), ansi.size()).toStdString();
    }
    default: return TrimRight(text);
    }
}

long TField::AsInteger() const
{
    if (type_ == TFieldType::ftFloat)
        return std::lround(AsFloat());
    return std::strtol(AsString().c_str(), nullptr, 10);
}

double TField::AsFloat() const
{
    // Stored numbers always use "."; strtod is locale-bound, so the text is read by hand.
    std::string text = AsString();
    double value = 0, scale = 0;
    bool negative = false;
    for (char c : text) {
        if (c == '-')
            negative = true;
        else if (c == '.')
            scale = 1;
        else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (scale > 0)
                scale *= 10;
        }
    }
    if (scale > 0)
        value /= scale;
    return negative ? -value : value;
}

bool TField::AsBoolean() const
{
    if (Calculated())
        return AsString() == "T";
    const char* p = Raw();
    return p && p[0] == 'T';
}

QDate TField::AsDate() const
{
    if (Calculated())
        return QDate::fromString(QString::fromStdString(AsString()), "yyyyMMdd");
    const char* p = Raw();
    return p && type_ == TFieldType::ftDate ? RawDate(p) : QDate();
}

QDateTime TField::AsDateTime() const
{
    QDate d = AsDate();
    return d.isValid() ? QDateTime(d, QTime(0, 0)) : QDateTime();
}

std::string TField::DisplayText() const
{
    if (IsNull())
        return std::string();
    switch (type_) {
    case TFieldType::ftDate: {
        QDate d = AsDate();
        return platform::FormatDateTime(platform::ShortDateFormat(),
                                        platform::DateTime{d.year(), d.month(), d.day(), 0, 0, 0, 0});
    }
    case TFieldType::ftBoolean: return AsBoolean() ? "True" : "False";
    default: return AsString();
    }
}

QString TField::DisplayString() const
{
    if (type_ == TFieldType::ftString && !Calculated()) {
        const char* p = Raw();
        if (!p)
            return QString();
        int n = width_;
        while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0'))
            --n;
        return AnsiToText(p, static_cast<size_t>(n));
    }
    return QString::fromStdString(DisplayText());
}

void TField::PutRaw(int result)
{
    if (result != DBIERR_NONE)
        throw EDatabaseError(result, name_);
    table_.Notify(TDataEvent::deRecordChange);
}

void TField::SetAsString(const std::string& value)
{
    if (Calculated()) {
        if (std::string* c = Calc())
            *c = value;
        return;
    }
    switch (type_) {
    case TFieldType::ftDate: SetAsDate(QDate::fromString(QString::fromStdString(value), "yyyyMMdd")); return;
    case TFieldType::ftBoolean:
        SetAsBoolean(!value.empty() && (value[0] == 'T' || value[0] == 't' || value[0] == 'Y' || value[0] == 'y'));
        return;
    case TFieldType::ftSmallint: SetAsInteger(std::strtol(value.c_str(), nullptr, 10)); return;
    case TFieldType::ftFloat: {
        QString text = QString::fromStdString(value).trimmed();
        bool ok = false;
        double number = text.toDouble(&ok);
        if (!ok && !text.isEmpty())
            throw EDatabaseError(DBIERR_FLDLIMIT, name_);
        if (text.isEmpty())
            Clear();
        else
            SetAsFloat(number);
        return;
    }
    default: break;
    }
    char* p = WritableRaw();
    if (!p)
        return;
    // One byte a character in the table, so the width cuts between characters.
    std::string text =
        (type_ == TFieldType::ftString ? TextToAnsi(value) : value).substr(0, static_cast<size_t>(width_));
    text.resize(static_cast<size_t>(width_), ' ');
    std::memcpy(p, text.data(), text.size());
    PutRaw(DBIERR_NONE);
}

void TField::SetAsInteger(long value)
{
    if (Calculated())
        return SetAsString(std::to_string(value));
    if (type_ == TFieldType::ftFloat)
        return SetAsFloat(static_cast<double>(value));
    if (type_ != TFieldType::ftSmallint)
        return SetAsString(std::to_string(value));
    char* p = WritableRaw();
    if (!p)
        return;
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) > width_)
        return PutRaw(DBIERR_FLDLIMIT);
    std::string stored = RightAligned(text, width_);
    std::memcpy(p, stored.data(), stored.size());
    PutRaw(DBIERR_NONE);
}

void TField::SetAsFloat(double value)
{
    if (Calculated())
        return SetAsString(FormatFixed(value, decimals_));
    if (type_ == TFieldType::ftSmallint)
        return SetAsInteger(std::lround(value));
    if (type_ != TFieldType::ftFloat)
        return SetAsString(FormatFixed(value, decimals_));
    char* p = WritableRaw();
    if (!p)
        return;
    int decimals = decimals_;
    std::string text = FormatFixed(value, decimals);
    if (static_cast<int>(text.size()) > width_ + decimals_ + 1)
        return PutRaw(DBIERR_FLDLIMIT);
    // Fewer decimals may make it fit; rounding can add a digit, so this stops at none.
    while (static_cast<int>(text.size()) > width_ && decimals > 0)
        text = FormatFixed(value, --decimals);
    if (static_cast<int>(text.size()) > width_)
        return PutRaw(DBIERR_FLDLIMIT);
    std::string stored = RightAligned(text, width_);
    std::memcpy(p, stored.data(), stored.size());
    PutRaw(DBIERR_NONE);
}

void TField::SetAsBoolean(bool value)
{
    if (Calculated())
        return SetAsString(value ? "T" : "F");
    char* p = WritableRaw();
    if (!p)
        return;
    if (type_ != TFieldType::ftBoolean)
        return SetAsString(value ? "T" : "F");
    p[0] = value ? 'T' : 'F';
    PutRaw(DBIERR_NONE);
}

void TField::SetAsDate(const QDate& value)
{
    if (Calculated())
        return SetAsString(value.isValid() ? value.toString("yyyyMMdd").toStdString() : std::string());
    char* p = WritableRaw();
    if (!p)
        return;
    if (!value.isValid())
        return Clear();
    if (type_ != TFieldType::ftDate)
        return SetAsString(value.toString("yyyyMMdd").toStdString());
    std::string text = value.toString("yyyyMMdd").toStdString();
    if (static_cast<int>(text.size()) != width_)
        return PutRaw(DBIERR_FLDLIMIT);
    std::memcpy(p, text.data(), text.size());
    PutRaw(DBIERR_NONE);
}

void TField::SetAsDateTime(const QDateTime& value) { SetAsDate(value.isValid() ? value.date() : QDate()); }

void TField::Clear()
{
    if (Calculated()) {
        if (std::string* c = Calc())
            c->clear();
        return;
    }
    char* p = WritableRaw();
    if (!p)
        return;
    std::memset(p, ' ', static_cast<size_t>(width_));
    PutRaw(DBIERR_NONE);
}

// ---- TTable ----

TTable::TTable() : active_(&current_) {}

TTable::~TTable()
{
    try {
        Close();
    } catch (const EDatabaseError&) {
        // Closing after a failure: the engine has already reported it.
    }
    disabled_ = 0;
    Notify(TDataEvent::deDataSetDestroyed);
}

void TTable::SetDatabaseName(const std::string& folder) { folder_ = folder; }

void TTable::SetTableName(const std::string& name) { tableName_ = name; }

void TTable::SetExclusive(bool exclusive) { exclusive_ = exclusive; }
void TTable::SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

std::string TTable::FullPath() const
{
    std::string folder = folder_;
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\')
        folder += '/';
    return platform::ResolvePath(folder + tableName_);
}

void TTable::RequireActive() const
{
    if (!Active())
        throw EDatabaseError(DBIERR_INVALIDHNDL, "dataset not open");
}

void TTable::RequireEditing() const
{
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert && state_ != TDataSetState::dsCalcFields)
        throw EDatabaseError(DBIERR_NOTSUPPORTED, "dataset not in edit or insert mode");
}

void TTable::Open()
{
    if (Active())
        return;
    std::string path = FullPath();
    // The alias: the file name without folder and extension, "~", "-" and blanks among the first
    // eight characters made "_", at most 13 characters; a name already open gets "_1", "_2" ...
    std::string base = path.substr(path.find_last_of('/') + 1);
    base = base.substr(0, base.find('.'));
    for (size_t i = 0; i < base.size() && i < 8; ++i)
        if (base[i] == '~' || base[i] == '-' || base[i] == ' ')
            base[i] = '_';
    std::string alias = base.substr(0, 13);
    for (int n = 1; vd_WorkArea(alias.c_str()) != 0; ++n)
        alias = base.substr(0, 8) + "_" + std::to_string(n);

    int mode = readOnly_ ? 1 : (exclusive_ ? 2 : 0);
    int before = vd_WorkArea(nullptr);
    int area = vd_Use(path.c_str(), alias.c_str(), mode, 2);
    if (area == 0) {
        std::string why = vd_LastErrorText();
        if (before)
            vd_Select(before);
        throw EDatabaseError(DBIERR_OPENFAILED, path + ": " + why);
    }
    area_ = area;
    if (before && before != area_)
        vd_Select(before);
    state_ = TDataSetState::dsBrowse;
    try {
        ReadFields();
        if (!indexName_.empty()) {
            AreaScope scope(area_);
            vd_SetOrder(vd_TagArea(indexName_.c_str()));
        }
        First();
        if (AfterOpen)
            AfterOpen(*this);
    } catch (...) {
        Close();
        throw;
    }
    Notify(TDataEvent::deActiveChanged);
}

void TTable::Close()
{
    if (!Active())
        return;
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
        Cancel();
    {
        AreaScope scope(area_);
        vd_Close();
    }
    area_ = 0;
    state_ = TDataSetState::dsInactive;
    SetEmpty();
    Notify(TDataEvent::deActiveChanged);
}

void TTable::ReadFields()
{
    AreaScope scope(area_);
    std::vector<std::unique_ptr<TField>> fresh;
    int count = vd_FieldCount();
    for (int i = 1; i <= count; ++i) {
        std::string type = vd_FieldType(i);
        char letter = type.empty() ? '?' : type[0];
        if (FieldTypeOf(letter, vd_FieldWidth(i), vd_FieldDecimals(i)) == TFieldType::ftInvalid)
            TableNotice(std::string("Invalid Field Type ") + letter);
        fresh.emplace_back(
            new TField(*this, vd_FieldName(i), letter, vd_FieldWidth(i), vd_FieldDecimals(i), i, vd_FieldOffset(i)));
    }
    for (const CalcDecl& d : calcDecls_) {
        char letter = d.type == TFieldType::ftDate                                          ? 'D'
                      : d.type == TFieldType::ftBoolean                                     ? 'L'
                      : (d.type == TFieldType::ftFloat || d.type == TFieldType::ftSmallint) ? 'N'
                                                                                            : 'C';
        fresh.emplace_back(new TField(*this, d.name, letter, d.width, 0, 0, 0));
        fresh.back()->type_ = d.type;
    }
    // A table opened again keeps the columns' order, labels, widths and visibility by name.
    std::vector<std::unique_ptr<TField>> ordered;
    for (auto& old : fields_) {
        for (auto& f : fresh) {
            if (f && f->name_ == old->name_) {
                f->label_ = old->label_;
                f->visible_ = old->visible_;
                f->displayWidth_ = old->displayWidth_;
                ordered.push_back(std::move(f));
                break;
            }
        }
    }
    for (auto& f : fresh)
        if (f)
            ordered.push_back(std::move(f));
    fields_ = std::move(ordered);
}

void TTable::AddCalcField(const std::string& name, TFieldType type, int width)
{
    calcDecls_.push_back(CalcDecl{name, type, width});
}

TField& TTable::Fields(int index) { return *fields_.at(static_cast<size_t>(index)); }

TField* TTable::FindField(const std::string& name)
{
    for (auto& f : fields_)
        if (QString::fromStdString(f->name_).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

TField& TTable::FieldByName(const std::string& name)
{
    TField* f = FindField(name);
    if (!f)
        throw EDatabaseError(DBIERR_INVALIDHNDL, "Field '" + name + "' not found");
    return *f;
}

void TTable::SetEmpty()
{
    current_ = TRecordBuffer();
    active_ = &current_;
    bof_ = eof_ = true;
}

void TTable::LoadFromEngine(TRecordBuffer& row)
{
    row.recno = vd_RecNo();
    row.raw.assign(static_cast<size_t>(std::max(vd_RecSize(), 1)), ' ');
    EngineCheck(vd_GetRecord(row.raw.data()));
    row.calc.clear();
    Calculate(row);
}

void TTable::Calculate(TRecordBuffer& row)
{
    if (!OnCalcFields || calcDecls_.empty())
        return;
    const TRecordBuffer* before = active_;
    TDataSetState state = state_;
    active_ = &row;
    state_ = TDataSetState::dsCalcFields;
    try {
        OnCalcFields(*this);
    } catch (...) {
        active_ = before;
        state_ = state;
        throw;
    }
    active_ = before;
    state_ = state;
}

void TTable::PositionEngine()
{
    if (current_.recno > 0 && vd_RecNo() != current_.recno)
        EngineCheck(vd_Go(current_.recno));
}

// The engine's record becomes the current one with the given flags; past the end the view is empty.
void TTable::TakeEngineRecord(bool bof, bool eof)
{
    if (vd_Eof()) {
        SetEmpty();
        return;
    }
    LoadFromEngine(current_);
    bof_ = bof;
    eof_ = eof;
}

void TTable::NotifyScroll() { Notify(TDataEvent::deDataSetScroll); }

void TTable::First()
{
    RequireActive();
    CheckBrowseMode();
    AreaScope scope(area_);
    EngineCheck(vd_GoTop());
    TakeEngineRecord(true, false);
    NotifyScroll();
}

void TTable::Last()
{
    RequireActive();
    CheckBrowseMode();
    AreaScope scope(area_);
    EngineCheck(vd_GoBottom());
    TakeEngineRecord(false, true);
    NotifyScroll();
}

int TTable::MoveBy(int distance)
{
    RequireActive();
    CheckBrowseMode();
    if (distance == 0 || current_.recno == 0)
        return 0;
    AreaScope scope(area_);
    PositionEngine();
    int moved = 0;
    int step = distance > 0 ? 1 : -1;
    bof_ = eof_ = false;
    while (moved != distance) {
        long before = vd_RecNo();
        EngineCheck(vd_Skip(step));
        if ((step > 0 && vd_Eof()) || (step < 0 && vd_Bof())) {
            (step > 0 ? eof_ : bof_) = true;
            EngineCheck(vd_Go(before));
            break;
        }
        moved += step;
    }
    LoadFromEngine(current_);
    NotifyScroll();
    return moved;
}

void TTable::Next()
{
    if (!eof_)
        MoveBy(1);
}

void TTable::Prior()
{
    if (!bof_)
        MoveBy(-1);
}

void TTable::GoToRecord(long recno)
{
    RequireActive();
    CheckBrowseMode();
    AreaScope scope(area_);
    EngineCheck(vd_Go(recno));
    if (vd_Eof())
        throw EDatabaseError(DBIERR_EOF, "record " + std::to_string(recno));
    LoadFromEngine(current_);
    bof_ = eof_ = false;
    NotifyScroll();
}

void TTable::GoToRow(const TRecordBuffer& row)
{
    RequireActive();
    CheckBrowseMode();
    // The engine is moved to it only when the dataset next moves (PositionEngine).
    current_ = row;
    bof_ = eof_ = false;
    NotifyScroll();
}

long TTable::RecordCount()
{
    RequireActive();
    AreaScope scope(area_);
    return vd_RecCount();
}

void TTable::Append()
{
    RequireActive();
    CheckBrowseMode();
    if (readOnly_)
        throw EDatabaseError(DBIERR_NOTSUPPORTED, "read-only table");
    AreaScope scope(area_);
    editing_ = TRecordBuffer();
    editing_.raw.assign(static_cast<size_t>(vd_RecSize()), ' ');
    state_ = TDataSetState::dsInsert;
    active_ = &editing_;
    Calculate(editing_);
    Notify(TDataEvent::deRecordChange);
}

void TTable::Edit()
{
    RequireActive();
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
        return;
    if (readOnly_)
        throw EDatabaseError(DBIERR_NOTSUPPORTED, "read-only table");
    if (current_.recno == 0)
        throw EDatabaseError(DBIERR_EOF, "no current record");
    AreaScope scope(area_);
    // The record is read again under its lock, so that an edit starts from what is on disk.
    if (vd_Rlock(current_.recno) == 0)
        throw EDatabaseError(DBIERR_LOCKED, vd_LastErrorText());
    EngineCheck(vd_Go(current_.recno));
    LoadFromEngine(current_);
    editing_ = current_;
    state_ = TDataSetState::dsEdit;
    active_ = &editing_;
    Notify(TDataEvent::deRecordChange);
}

void TTable::Post()
{
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return;
    AreaScope scope(area_);
    if (state_ == TDataSetState::dsInsert) {
        EngineCheck(vd_AppendBlank());
    } else {
        PositionEngine();
        if (vd_RecNo() != current_.recno)
            EngineCheck(vd_Go(current_.recno));
    }
    long recno = vd_RecNo();
    try {
        EngineCheck(vd_PutRecord(editing_.raw.data()));
        EngineCheck(vd_Commit());
    } catch (const EDatabaseError&) {
        // The row stays in edit or insert state for the user to retry or cancel; a blank row the
        // append left behind is marked deleted rather than shown as an empty fax.
        if (state_ == TDataSetState::dsInsert) {
            vd_Delete();
            vd_Commit();
        }
        throw;
    }
    vd_Unlock(recno);
    state_ = TDataSetState::dsBrowse;
    active_ = &current_;
    EngineCheck(vd_Go(recno));
    LoadFromEngine(current_);
    bof_ = eof_ = false;
    Notify(TDataEvent::deDataSetChanged);
}

void TTable::Cancel()
{
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return;
    if (state_ == TDataSetState::dsEdit) {
        AreaScope scope(area_);
        vd_Unlock(current_.recno);
    }
    state_ = TDataSetState::dsBrowse;
    active_ = &current_;
    Notify(TDataEvent::deRecordChange);
}

void TTable::CheckBrowseMode()
{
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
        Post();
}

bool TTable::MarkRecordDeleted(long recno)
{
    RequireActive();
    if (state_ == TDataSetState::dsInsert) {
        Cancel();
        return false;
    }
    if (state_ == TDataSetState::dsEdit)
        Cancel();
    if (recno <= 0)
        throw EDatabaseError(DBIERR_EOF, "no current record");
    AreaScope scope(area_);
    EngineCheck(vd_Go(recno));
    if (vd_Eof())
        throw EDatabaseError(DBIERR_EOF, "record " + std::to_string(recno));
    EngineCheck(vd_Delete());
    return true;
}

void TTable::Delete()
{
    if (!MarkRecordDeleted(current_.recno))
        return;
    AreaScope scope(area_);
    EngineCheck(vd_Commit());
    // The view moves on to the next row, or the last one when the deleted row ended the view.
    EngineCheck(vd_Skip(1));
    if (vd_Eof())
        EngineCheck(vd_GoBottom());
    TakeEngineRecord(false, false);
    Notify(TDataEvent::deDataSetChanged);
}

void TTable::MarkDeleted(long recno)
{
    if (MarkRecordDeleted(recno))
        Notify(TDataEvent::deDataSetChanged);
}

void TTable::Commit()
{
    RequireActive();
    AreaScope scope(area_);
    EngineCheck(vd_Commit());
}

int TTable::CheckCurrentRecord()
{
    RequireActive();
    if (current_.recno == 0)
        return DBIERR_EOF;
    AreaScope scope(area_);
    long remembered = current_.recno;
    EngineCheck(vd_Go(remembered));
    EngineCheck(vd_Skip(1));
    EngineCheck(vd_Skip(-1));
    if (vd_RecNo() == remembered && !vd_Eof())
        return DBIERR_NONE;
    EngineCheck(vd_Go(remembered));
    return DBIERR_RECDELETED;
}

void TTable::Refresh()
{
    RequireActive();
    CheckBrowseMode();
    if (current_.recno == 0) {
        First();
        Notify(TDataEvent::deDataSetChanged);
        return;
    }
    AreaScope scope(area_);
    if (CheckCurrentRecord() == DBIERR_RECDELETED) {
        EngineCheck(vd_Skip(1));
        if (vd_Eof())
            EngineCheck(vd_GoBottom());
    } else {
        EngineCheck(vd_Go(current_.recno));
    }
    TakeEngineRecord(false, false);
    Notify(TDataEvent::deDataSetChanged);
}

void TTable::SetIndexName(const std::string& tag)
{
    indexName_ = tag;
    if (!Active())
        return;
    CheckBrowseMode();
    AreaScope scope(area_);
    EngineCheck(vd_SetOrder(tag.empty() ? 0 : vd_TagArea(tag.c_str())));
    Resync();
}

void TTable::WritePosition()
{
    if (!Active())
        return;
    CheckBrowseMode();
    AreaScope scope(area_);
    PositionEngine();
}

void TTable::Resync()
{
    if (!Active())
        return;
    AreaScope scope(area_);
    // The current record stays current when it still belongs to the view; else the first row.
    if (current_.recno > 0 && current_.recno <= vd_RecCount() && CheckCurrentRecord() == DBIERR_NONE) {
        EngineCheck(vd_Go(current_.recno));
        LoadFromEngine(current_);
        bof_ = eof_ = false;
    } else {
        EngineCheck(vd_GoTop());
        TakeEngineRecord(true, false);
    }
    Notify(TDataEvent::deDataSetChanged);
}

void TTable::ReadRows(long recno, int direction, int count, std::vector<TRecordBuffer>& rows)
{
    rows.clear();
    if (!Active() || count <= 0)
        return;
    AreaScope scope(area_);
    int step = direction >= 0 ? 1 : -1;
    if (recno <= 0) {
        EngineCheck(step > 0 ? vd_GoTop() : vd_GoBottom());
    } else {
        EngineCheck(vd_Go(recno));
        if (vd_Eof())
            return;
        EngineCheck(vd_Skip(step));
    }
    while (static_cast<int>(rows.size()) < count) {
        if (vd_Eof() || (step < 0 && vd_Bof()))
            break;
        rows.emplace_back();
        LoadFromEngine(rows.back());
        EngineCheck(vd_Skip(step));
    }
}

void TTable::SetActiveRecord(const TRecordBuffer* row)
{
    active_ =
        row ? row : (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert ? &editing_ : &current_);
}

void TTable::DisableControls() { ++disabled_; }

void TTable::EnableControls()
{
    if (disabled_ > 0 && --disabled_ == 0 && changedWhileDisabled_) {
        changedWhileDisabled_ = false;
        Notify(TDataEvent::deDataSetChanged);
    }
}

int TTable::AddLink(std::function<void(TDataEvent)> link)
{
    links_[nextLink_] = std::move(link);
    return nextLink_++;
}

void TTable::RemoveLink(int id) { links_.erase(id); }

void TTable::Notify(TDataEvent event)
{
    if (disabled_ > 0 && event != TDataEvent::deActiveChanged) {
        changedWhileDisabled_ = true;
        return;
    }
    // A link may remove itself or others while it is told.
    std::vector<int> ids;
    for (auto& [id, link] : links_)
        ids.push_back(id);
    for (int id : ids) {
        auto it = links_.find(id);
        if (it != links_.end())
            it->second(event);
    }
}

int TTable::PutFieldRaw(char* raw, const TField& field, const std::string& text)
{
    if (field.Calculated())
        return DBIERR_NONE;
    std::string value = text.substr(0, static_cast<size_t>(field.Size()));
    value.resize(static_cast<size_t>(field.Size()), ' ');
    std::memcpy(raw + field.offset_, value.data(), value.size());
    return DBIERR_NONE;
}

} // namespace zn::data
