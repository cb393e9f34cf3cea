// The engine-wide state behind the vd_ entry points: settings, work areas, the selected area,
// the last error and the progress hook.
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "xbase_area.h"
#include "xbase_diagnostics.h"
#include "xbase_vd.h"

using namespace zn::xbase;

namespace {

constexpr int kAreas = 255;
constexpr int kNoArea = static_cast<int>(Err::NoArea);

struct Creation {
    std::string path;
    std::vector<Field> fields;
    int expected = 0;
};

struct Engine {
    Settings settings;
    Progress progress;
    std::array<std::unique_ptr<WorkArea>, kAreas + 1> areas;
    std::array<std::unique_ptr<Creation>, kAreas + 1> creations;
    int selected = 1;
    Err lastError = Err::Ok;
};

Engine& E()
{
    static Engine engine;
    return engine;
}

// Records the outcome of a call as the last error and returns its code.
int Result(Err e)
{
    E().lastError = e;
    return static_cast<int>(e);
}

int Fail(Err e) { return Result(e); }

WorkArea* Current()
{
    Engine& e = E();
    if (e.selected < 1 || e.selected > kAreas)
        return nullptr;
    return e.areas[e.selected].get();
}

// Runs `body` on the selected area, or records that none is open.
template <typename T, typename F>
T OnArea(T failed, F body)
{
    WorkArea* a = Current();
    if (!a) {
        E().lastError = Err::NoArea;
        return failed;
    }
    return body(*a);
}

int FreeArea()
{
    Engine& e = E();
    for (int i = 1; i <= kAreas; ++i)
        if (!e.areas[i] && !e.creations[i])
            return i;
    return 0;
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

const Field* FieldNumbered(WorkArea& a, int n)
{
    const auto& f = a.Table().Fields();
    if (n < 1 || n > static_cast<int>(f.size()))
        return nullptr;
    return &f[n - 1];
}

int FieldByName(WorkArea& a, const char* name)
{
    if (!name)
        return -1;
    return a.Table().FieldIndex(name);
}

// "mm/dd/yy" or "mm/dd/yyyy" whatever the date-format setting.
int32_t AmericanDate(const std::string& text)
{
    Settings american;
    american.dateFormat = 0;
    return DateFromDtoc(text, american);
}

} // namespace

void vd_SetStringType(int) {}
void vd_ErrorLevel(int) {}
std::string vd_Version() { return "2.40.00"; }
int vd_LastError() { return static_cast<int>(E().lastError); }
std::string vd_LastErrorText() { return ErrorText(E().lastError); }

void vd_CloseAll()
{
    Engine& e = E();
    for (int i = 1; i <= kAreas; ++i) {
        if (e.areas[i])
            (void)e.areas[i]->Close();
        e.areas[i].reset();
        e.creations[i].reset();
    }
    e.selected = 1;
}

int vd_Select(int area)
{
    Engine& e = E();
    int before = e.selected;
    if (area >= 1 && area <= kAreas)
        e.selected = area;
    return before;
}

int vd_WorkArea(const char* alias)
{
    Engine& e = E();
    if (!alias)
        return e.areas[e.selected] ? e.selected : 0;
    std::string wanted = Upper(alias);
    for (int i = 1; i <= kAreas; ++i)
        if (e.areas[i] && Upper(e.areas[i]->Alias()) == wanted)
            return i;
    return 0;
}

intptr_t vd_SysProp(int code, intptr_t value)
{
    Engine& e = E();
    switch (code) {
    case 65002: return value >= 1 && value <= kAreas && e.areas[value] ? 1 : 0;
    case 3000: return OnArea<intptr_t>(0, [](WorkArea& a) { return intptr_t(a.OrderCount()); });
    case 3001: return OnArea<intptr_t>(0, [](WorkArea& a) { return intptr_t(a.IndexFault()); });
    case 1000: return e.settings.softSeek ? 1 : 0;
    case 1001: {
        intptr_t b = e.settings.softSeek;
        e.settings.softSeek = value != 0;
        return b;
    }
    case 1002: return e.settings.exact ? 1 : 0;
    case 1003: {
        intptr_t b = e.settings.exact;
        e.settings.exact = value != 0;
        return b;
    }
    case 65000: return OnArea<intptr_t>(0, [](WorkArea& a) { return reinterpret_cast<intptr_t>(a.Record()); });
    default: return 0;
    }
}

int vd_Use(const char* path, const char* alias, int mode, int driver)
{
    (void)driver;
    Engine& e = E();
    if (!path || !*path)
        return Fail(Err::BadArgument), 0;
    int n = FreeArea();
    if (!n)
        return Fail(Err::NoFreeArea), 0;
    std::string file = path;
    size_t slash = file.find_last_of('/');
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (name.find('.') == std::string::npos)
        file += ".DBF";
    std::string a = alias && *alias ? alias : name.substr(0, name.find('.'));
    OpenMode m = mode == 2 ? OpenMode::Exclusive : (mode == 1 ? OpenMode::ReadOnly : OpenMode::Shared);
    auto area = std::make_unique<WorkArea>(e.settings, e.progress);
    if (Err err = area->Open(file, Upper(a), m); err != Err::Ok)
        return Fail(err), 0;
    e.areas[n] = std::move(area);
    e.selected = n;
    e.lastError = Err::Ok;
    return n;
}

int vd_Close()
{
    Engine& e = E();
    if (e.creations[e.selected]) {
        e.creations[e.selected].reset();
        return Result(Err::Ok);
    }
    WorkArea* a = Current();
    if (!a)
        return Fail(Err::NoArea);
    Err err = a->Close();
    e.areas[e.selected].reset();
    return Result(err);
}

int vd_CreateNew(const char* path, const char* alias, int driver, int fieldCount)
{
    (void)alias;
    (void)driver;
    Engine& e = E();
    if (!path || !*path || fieldCount < 1)
        return Fail(Err::BadArgument), 0;
    int n = FreeArea();
    if (!n)
        return Fail(Err::NoFreeArea), 0;
    auto c = std::make_unique<Creation>();
    c->path = path;
    c->expected = fieldCount;
    e.creations[n] = std::move(c);
    e.selected = n;
    e.lastError = Err::Ok;
    return n;
}

int vd_CreateField(const char* name, const char* type, int width, int decimals)
{
    Engine& e = E();
    Creation* c = e.creations[e.selected].get();
    if (!c)
        return Fail(Err::NoArea);
    if (!name || !type)
        return Fail(Err::BadField);
    Field f;
    f.name = Upper(name);
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
    f.length = f.type == 'D' ? 8 : (f.type == 'L' ? 1 : width);
    f.decimals = decimals;
    c->fields.push_back(f);
    return Result(Err::Ok);
}

int vd_CreateExec()
{
    Engine& e = E();
    Creation* c = e.creations[e.selected].get();
    if (!c)
        return Fail(Err::NoArea), 0;
    if (static_cast<int>(c->fields.size()) != c->expected)
        return Fail(Err::BadField), 0;
    Err err = DbfTable::Create(c->path, c->fields);
    if (err != Err::Ok)
        return Fail(err), 0;
    e.lastError = Err::Ok;
    return 1;
}

int vd_FieldCount()
{
    return OnArea(0, [](WorkArea& a) { return static_cast<int>(a.Table().Fields().size()); });
}

std::string vd_FieldName(int n)
{
    return OnArea(std::string(), [n](WorkArea& a) {
        const Field* f = FieldNumbered(a, n);
        return f ? f->name : std::string();
    });
}

std::string vd_FieldType(int n)
{
    return OnArea(std::string(), [n](WorkArea& a) {
        const Field* f = FieldNumbered(a, n);
        return f ? std::string(1, f->type) : std::string();
    });
}

int vd_FieldWidth(int n)
{
    return OnArea(0, [n](WorkArea& a) {
        const Field* f = FieldNumbered(a, n);
        return f ? f->length : 0;
    });
}

int vd_FieldDecimals(int n)
{
    return OnArea(0, [n](WorkArea& a) {
        const Field* f = FieldNumbered(a, n);
        return f ? f->decimals : 0;
    });
}

int vd_FieldOffset(int n)
{
    return OnArea(0, [n](WorkArea& a) {
        const Field* f = FieldNumbered(a, n);
        return f ? f->offset : 0;
    });
}

int vd_FieldNum(const char* name)
{
    return OnArea(0, [name](WorkArea& a) { return FieldByName(a, name) + 1; });
}

int vd_RecSize()
{
    return OnArea(0, [](WorkArea& a) { return a.Table().RecordLength(); });
}

int vd_GetRecord(char* buffer)
{
    return OnArea(kNoArea, [buffer](WorkArea& a) {
        if (!buffer)
            return Fail(Err::BadArgument);
        memcpy(buffer, a.Record(), a.Table().RecordLength());
        return Result(Err::Ok);
    });
}

int vd_PutRecord(const char* buffer)
{
    return OnArea(kNoArea, [buffer](WorkArea& a) {
        if (!buffer)
            return Fail(Err::BadArgument);
        return Result(a.PutRecord(buffer));
    });
}

int vd_AppendBlank()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.AppendBlank()); });
}
int vd_Delete()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.Delete()); });
}
int vd_Recall()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.Recall()); });
}
int vd_Deleted()
{
    return OnArea(0, [](WorkArea& a) { return a.Deleted() ? 1 : 0; });
}
int vd_Commit()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.Commit()); });
}

int vd_Replace(const char* field, int kind, const char* text)
{
    return OnArea(kNoArea, [=](WorkArea& a) {
        int f = FieldByName(a, field);
        if (f < 0)
            return Fail(Err::NoSuchField);
        std::string value = Text(text);
        switch (kind) {
        case 1024: return Result(a.ReplaceText(f, value));
        case 1056: {
            bool blank = value.find_first_not_of(" /") == std::string::npos;
            int32_t date = AmericanDate(value);
            if (!date && !blank)
                return Fail(Err::BadArgument);
            return Result(a.ReplaceDate(f, date));
        }
        default: return Fail(Err::BadArgument);
        }
    });
}

int vd_Replace(const char* field, int kind, double number)
{
    return OnArea(kNoArea, [=](WorkArea& a) {
        int f = FieldByName(a, field);
        if (f < 0)
            return Fail(Err::NoSuchField);
        if (kind != 8)
            return Fail(Err::BadArgument);
        return Result(a.ReplaceNumber(f, number));
    });
}

int vd_Replace(const char* field, int kind, bool logical)
{
    return OnArea(kNoArea, [=](WorkArea& a) {
        int f = FieldByName(a, field);
        if (f < 0)
            return Fail(Err::NoSuchField);
        if (kind != 128)
            return Fail(Err::BadArgument);
        return Result(a.ReplaceLogical(f, logical));
    });
}

std::string vd_GetString(const char* field)
{
    return OnArea(std::string(), [field](WorkArea& a) {
        int f = FieldByName(a, field);
        if (f < 0)
            return Fail(Err::NoSuchField), std::string();
        const Field& d = a.Table().Fields()[f];
        return std::string(a.Record() + d.offset, d.length);
    });
}

std::string vd_GetTrimString(const char* field)
{
    std::string s = vd_GetString(field);
    s.erase(s.find_last_not_of(' ') == std::string::npos ? 0 : s.find_last_not_of(' ') + 1);
    return s;
}

std::string vd_GetDateString(const char* field)
{
    return OnArea(std::string(), [field](WorkArea& a) {
        int f = FieldByName(a, field);
        if (f < 0)
            return Fail(Err::NoSuchField), std::string();
        const Field& d = a.Table().Fields()[f];
        return DtocFromDate(DateFromDtos(a.Record() + d.offset, d.length), E().settings);
    });
}

int vd_GetLogical(const char* field)
{
    return OnArea(0, [field](WorkArea& a) {
        int f = FieldByName(a, field);
        if (f < 0)
            return Fail(Err::NoSuchField), 0;
        Value v;
        ReadField(a.Table().Fields()[f], a.Record(), v);
        return v.type == 'L' && v.logical ? 1 : 0;
    });
}

char* vd_GetMemo(const char*, int)
{
    Fail(Err::NoSuchField);
    return nullptr;
}

void vd_MemDealloc(char*) {}

int vd_GoTop()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.GoTop()); });
}
int vd_GoBottom()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.GoBottom()); });
}
int vd_Skip(long n)
{
    return OnArea(kNoArea, [n](WorkArea& a) { return Result(a.Skip(n)); });
}
int vd_Go(long r)
{
    return OnArea(kNoArea, [r](WorkArea& a) { return Result(a.Go(r)); });
}
long vd_RecNo()
{
    return OnArea(0L, [](WorkArea& a) { return static_cast<long>(a.RecNo()); });
}
long vd_RecCount()
{
    return OnArea(0L, [](WorkArea& a) { return static_cast<long>(a.RecordCount()); });
}
int vd_Bof()
{
    return OnArea(1, [](WorkArea& a) { return a.Bof() ? 1 : 0; });
}
int vd_Eof()
{
    return OnArea(1, [](WorkArea& a) { return a.Eof() ? 1 : 0; });
}

int vd_Rlock(long recno)
{
    return OnArea(0, [recno](WorkArea& a) {
        if (recno < 1)
            return Fail(Err::BadArgument), 0;
        Err err = a.Lock(static_cast<uint32_t>(recno));
        Result(err);
        return err == Err::Ok ? 1 : 0;
    });
}

int vd_Unlock(long recno)
{
    return OnArea(kNoArea, [recno](WorkArea& a) {
        a.Unlock(recno < 0 ? 0 : static_cast<uint32_t>(recno));
        return Result(Err::Ok);
    });
}

int vd_IndexTag(const char* file, const char* tag, const char* key, int option, int flag, const char* condition)
{
    (void)option;
    return OnArea(0, [=](WorkArea& a) {
        if (!tag || !key)
            return Fail(Err::BadArgument), 0;
        int order = 0;
        Err err = a.IndexTag(Text(file), tag, key, Text(condition), flag != 0, order);
        Result(err);
        return err == Err::Ok ? order : 0;
    });
}

int vd_IndexOpen(const char* file)
{
    return OnArea(0, [file](WorkArea& a) {
        if (!file)
            return Fail(Err::BadArgument), 0;
        int order = 0;
        Err err = a.IndexOpen(file, order);
        Result(err);
        return order;
    });
}

int vd_CloseIndexes()
{
    return OnArea(kNoArea, [](WorkArea& a) {
        a.CloseIndexes();
        return Result(Err::Ok);
    });
}

int vd_SetOrder(int order)
{
    return OnArea(0, [order](WorkArea& a) {
        int before = a.Order();
        Result(a.SetOrder(order));
        return before;
    });
}

int vd_IndexOrd()
{
    return OnArea(0, [](WorkArea& a) { return a.Order(); });
}
int vd_TagArea(const char* tag)
{
    return OnArea(0, [tag](WorkArea& a) { return tag ? a.TagOrder(tag) : 0; });
}
std::string vd_TagName(int n)
{
    return OnArea(std::string(), [n](WorkArea& a) { return a.TagName(n); });
}
std::string vd_IndexName(int n)
{
    return OnArea(std::string(), [n](WorkArea& a) { return a.IndexFile(n ? n : a.Order()); });
}
std::string vd_IndexKey(int n)
{
    return OnArea(std::string(), [n](WorkArea& a) { return a.IndexKey(n ? n : a.Order()); });
}

int vd_IndexKeyField(int n)
{
    return OnArea(0, [n](WorkArea& a) {
        std::string key = a.IndexKey(n ? n : a.Order());
        size_t b = key.find_first_not_of(' '), e = key.find_last_not_of(' ');
        if (b == std::string::npos)
            return 0;
        return a.Table().FieldIndex(key.substr(b, e - b + 1)) + 1;
    });
}

std::string vd_KeyData()
{
    return OnArea(std::string(), [](WorkArea& a) { return a.KeyData(); });
}

int vd_Seek(const char* key)
{
    return OnArea(0, [key](WorkArea& a) {
        bool found = false;
        Err err = a.Seek(Text(key), found);
        Result(err);
        return found ? 1 : 0;
    });
}

int vd_SetScope(const char* low, const char* high)
{
    return OnArea(kNoArea, [=](WorkArea& a) { return Result(a.SetScope(low, high)); });
}

int vd_EvalTest(const char* expression)
{
    return OnArea(0, [expression](WorkArea& a) {
        const Expression* e = nullptr;
        if (!expression)
            return Fail(Err::BadArgument), 0;
        if (Err err = a.Compile(expression, e); err != Err::Ok)
            return Fail(err), 0;
        Result(Err::Ok);
        switch (e->Type()) {
        case 'C': return 1;
        case 'N': return 2;
        case 'L': return 3;
        default: return 4;
        }
    });
}

std::string vd_EvalString(const char* expression)
{
    return OnArea(std::string(), [expression](WorkArea& a) {
        const Expression* e = nullptr;
        if (!expression)
            return Fail(Err::BadArgument), std::string();
        if (Err err = a.Compile(expression, e); err != Err::Ok)
            return Fail(err), std::string();
        Result(Err::Ok);
        return ValueText(e->Evaluate(a.Context()), E().settings);
    });
}

int vd_EvalLogical(const char* expression)
{
    return OnArea(0, [expression](WorkArea& a) {
        const Expression* e = nullptr;
        if (!expression)
            return Fail(Err::BadArgument), 0;
        if (Err err = a.Compile(expression, e); err != Err::Ok)
            return Fail(err), 0;
        if (e->Type() != 'L')
            return Fail(Err::ExprType), 0;
        Result(Err::Ok);
        return e->IsTrue(a.Context()) ? 1 : 0;
    });
}

int vd_Query(const char* expression)
{
    return OnArea(kNoArea, [expression](WorkArea& a) { return Result(a.SetFilter(expression)); });
}

long vd_QueryRecCount()
{
    return OnArea(0L, [](WorkArea& a) {
        long count = 0;
        Err err = a.CountVisible(count);
        Result(err);
        return err == Err::Ok ? count : 0L;
    });
}

std::string vd_DBFilter()
{
    return OnArea(std::string(), [](WorkArea& a) { return a.FilterText(); });
}

namespace {
int Swap(bool& setting, int on)
{
    int before = setting;
    setting = on != 0;
    return before;
}
int Swap(int& setting, int value)
{
    int before = setting;
    setting = value;
    return before;
}
} // namespace

int vd_SetDeleted(int on) { return Swap(E().settings.deleted, on); }
int vd_SetCentury(int on) { return Swap(E().settings.century, on); }
int vd_SetDateFormat(int format) { return Swap(E().settings.dateFormat, format >= 0 && format <= 6 ? format : 0); }
int vd_SetExact(int on) { return Swap(E().settings.exact, on); }
int vd_SetSoftSeek(int on) { return Swap(E().settings.softSeek, on); }
int vd_SetLockTimeout(int seconds) { return Swap(E().settings.lockTimeoutSeconds, seconds < 0 ? 0 : seconds); }
int vd_SetMemoBlockSize(int size) { return Swap(E().settings.memoBlockSize, size); }
int vd_SetFastRead(int on) { return Swap(E().settings.fastRead, on); }
void vd_SetGaugeHook(std::function<void(int)> hook) { E().progress = std::move(hook); }
int vd_Pack()
{
    return OnArea(kNoArea, [](WorkArea& a) { return Result(a.Pack()); });
}

namespace zn::xbase {

std::string SelectedIndexCondition(int n)
{
    return OnArea(std::string(), [n](WorkArea& a) { return a.IndexFor(n); });
}

bool SelectedIndexDescending(int n)
{
    return OnArea(false, [n](WorkArea& a) { return a.IndexDescending(n); });
}

long CountRowsMatching(const char* condition)
{
    return OnArea(-1L, [condition](WorkArea& a) {
        long count = 0;
        Err err = a.CountMatching(condition ? condition : "", count);
        Result(err);
        return err == Err::Ok ? count : -1L;
    });
}

std::string SelectedIndexFault()
{
    return OnArea(std::string(), [](WorkArea& a) {
        return a.IndexFault() == Err::Ok ? std::string() : a.IndexFaultPath() + " " + a.IndexFaultText();
    });
}

int CheckSelectedIndexes(std::string& where)
{
    where.clear();
    return OnArea(kNoArea, [&where](WorkArea& a) { return Result(a.Check(where)); });
}

} // namespace zn::xbase
