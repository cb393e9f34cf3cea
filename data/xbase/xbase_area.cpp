#include "xbase_area.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zn::xbase {

namespace {

constexpr size_t kScanBytes = 1 << 20;

std::string UpperText(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The file in `path`'s folder whose name matches `path`'s name in any letter case, else `path`.
std::string FindCaseInsensitive(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        return path;
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = UpperText(slash == std::string::npos ? path : path.substr(slash + 1));
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir)
        return path;
    std::string found = path;
    while (dirent* e = readdir(dir)) {
        if (UpperText(e->d_name) == name) {
            found = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + e->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Replaces the extension of `path`, in the letter case of the extension it had.
std::string WithExtension(const std::string& path, const std::string& upperExtension)
{
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    std::string base =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
    std::string old =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(dot + 1) : "";
    bool lower = !old.empty() && std::islower(static_cast<unsigned char>(old[0]));
    std::string ext = upperExtension;
    if (lower)
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return base + "." + ext;
}

bool KeyBoolean(const std::string& text)
{
    for (char c : text) {
        if (c == ' ' || c == '.')
            continue;
        return c == 'T' || c == 't' || c == 'Y' || c == 'y';
    }
    return false;
}

} // namespace

WorkArea::~WorkArea() { (void)Close(); }

Err WorkArea::Open(const std::string& path, const std::string& alias, OpenMode mode)
{
    std::string resolved = FindCaseInsensitive(path);
    if (Err e = table_.Open(resolved, mode); e != Err::Ok)
        return e;
    alias_ = alias;
    buffer_.assign(table_.RecordLength(), ' ');
    original_ = buffer_;
    std::string cdx = FindCaseInsensitive(WithExtension(resolved, "CDX"));
    indexFault_ = Err::Ok;
    indexFaultPath_.clear();
    if (FileExists(cdx)) {
        size_t which = 0;
        // An unreadable index does not stop the table from opening: it has no tags, and the fault is
        // kept for the program to ask (it rebuilds the index) and to refuse writes. One that another
        // process keeps locked past the lock timeout does stop it.
        Err e = OpenIndexFile(cdx, false, which);
        if (e == Err::LockTimeout) {
            table_.Close();
            return e;
        }
        if (e != Err::Ok) {
            CloseIndexes();
            indexFault_ = e;
            indexFaultPath_ = cdx;
        } else if (table_.Writable() && !indexes_[which]->Writable()) {
            indexFault_ = Err::ReadOnly;
            indexFaultPath_ = cdx;
        }
    }
    return GoTop();
}

Err WorkArea::IndexFault()
{
    if (indexFault_ != Err::Ok && !FileExists(indexFaultPath_)) {
        indexFault_ = Err::Ok;
        indexFaultPath_.clear();
    }
    return indexFault_;
}

std::string WorkArea::IndexFaultText()
{
    switch (IndexFault()) {
    case Err::Ok: return "";
    case Err::CorruptIndex: return "is damaged or was left half-written; it needs rebuilding";
    case Err::ReadOnly: return "cannot be written; writes to the table are refused";
    default: return "cannot be read; it needs rebuilding";
    }
}

Err WorkArea::Close()
{
    if (!table_.IsOpen())
        return Err::Ok;
    Err e = table_.Writable() ? Commit() : Err::Ok;
    Unlock(0);
    CloseIndexes();
    table_.Close();
    expressions_.clear();
    filter_.reset();
    return e;
}

std::string WorkArea::ProductionIndexPath() const { return FindCaseInsensitive(WithExtension(table_.Path(), "CDX")); }

void WorkArea::Report(int percent) const
{
    if (progress_)
        progress_(std::clamp(percent, 0, 100));
}

uint32_t WorkArea::RecordCount()
{
    if (!table_.Shared())
        return table_.RecordCount();
    // Appends bump the watched index's counter too: while it stands, the count read stands.
    uint32_t counter = 0;
    bool settled = Settled(counter);
    if (settled && countStamped_ && countStamp_ == counter)
        return table_.RecordCount();
    bool read = table_.RefreshCount() == Err::Ok;
    countStamped_ = settled && read;
    countStamp_ = counter;
    return table_.RecordCount();
}

// ---- read-ahead -------------------------------------------------------------------------------

namespace {

// About 64 KB of records: one read serves a few hundred steps and costs little when one is used.
uint32_t WindowRecords(const DbfTable& table)
{
    return static_cast<uint32_t>(std::max(1, (64 << 10) / std::max(1, table.RecordLength())));
}

} // namespace

CdxFile* WorkArea::Watched()
{
    // An index without tags is not written when records change: it tells nothing.
    if (watched_ >= indexes_.size() || indexes_[watched_]->Tags().empty())
        return nullptr;
    return indexes_[watched_].get();
}

bool WorkArea::Settled(uint32_t& counter)
{
    CdxFile* w = Watched();
    return w && w->Settle(counter) == Err::Ok;
}

bool WorkArea::WindowHolds(uint32_t recno)
{
    if (window_.number == 0 || recno < window_.first || recno - window_.first >= window_.number)
        return false;
    if (!table_.Shared())
        return true;
    CdxFile* w = Watched();
    if (w && w->Unchanged() && w->Counter() == window_.counter)
        return true;
    window_.number = 0;
    return false;
}

Err WorkArea::ReadWindow(uint32_t first, uint32_t last, uint32_t counter)
{
    window_.number = 0;
    if (Err e = FlushAppends(); e != Err::Ok)
        return e;
    uint32_t number = last - first + 1;
    window_.records.resize(size_t(number) * table_.RecordLength());
    if (Err e = table_.ReadRecords(first, number, window_.records.data()); e != Err::Ok)
        return e;
    window_.first = first;
    window_.number = number;
    window_.counter = counter;
    return Err::Ok;
}

Err WorkArea::ReadAheadFrom(uint32_t recno, int direction, uint32_t count)
{
    if (recno < 1 || recno > count || WindowHolds(recno))
        return Err::Ok;
    uint32_t counter = 0;
    if (table_.Shared() && !Settled(counter))
        return Err::Ok; // record by record
    uint32_t per = WindowRecords(table_);
    uint32_t first = direction > 0 ? recno : (recno > per ? recno - per + 1 : 1);
    uint32_t last = direction > 0 ? std::min(count, recno + (per - 1)) : recno;
    return first < last ? ReadWindow(first, last, counter) : Err::Ok;
}

Err WorkArea::ReadAheadAlongLeaf(uint32_t recno, bool forward, uint32_t count)
{
    if (WindowHolds(recno))
        return Err::Ok;
    uint32_t counter = 0;
    if (table_.Shared() && !Settled(counter))
        return Err::Ok;
    // The span of the records the leaf names next, while it stays within a window: keys that follow
    // the record order (or run against it, or repeat over neighbouring records) fall in one read;
    // scattered ones are read one by one.
    const uint32_t per = WindowRecords(table_);
    uint32_t low = recno, high = recno, previous = recno;
    bool rising = true, falling = true;
    const int step = forward ? 1 : -1;
    const int entries = static_cast<int>(pos_.recnos.size());
    for (int i = pos_.index + step; i >= 0 && i < entries; i += step) {
        uint32_t r = pos_.recnos[i];
        if (r < 1 || r > count || std::max(high, r) - std::min(low, r) >= per)
            break;
        low = std::min(low, r);
        high = std::max(high, r);
        rising = rising && r > previous;
        falling = falling && r < previous;
        previous = r;
    }
    if (low == high)
        return Err::Ok;
    // A run in record order goes on past the leaf: the window reaches as far as it may.
    if (rising)
        high = std::min(count, low + (per - 1));
    else if (falling)
        low = high > per ? high - per + 1 : 1;
    return ReadWindow(low, high, counter);
}

// ---- records --------------------------------------------------------------------------------

Err WorkArea::ReadCurrent(uint32_t recno)
{
    if (Err e = FlushAppends(); e != Err::Ok)
        return e;
    if (WindowHolds(recno)) {
        size_t length = buffer_.size();
        memcpy(buffer_.data(), window_.records.data() + size_t(recno - window_.first) * length, length);
    } else if (Err e = table_.ReadRecords(recno, 1, buffer_.data()); e != Err::Ok) {
        return e;
    }
    original_ = buffer_;
    recno_ = recno;
    bof_ = eof_ = false;
    return Err::Ok;
}

void WorkArea::SetEof()
{
    recno_ = RecordCount() + 1;
    std::fill(buffer_.begin(), buffer_.end(), ' ');
    original_ = buffer_;
    eof_ = true;
    posValid_ = false;
}

bool WorkArea::Visible()
{
    if (settings_.deleted && buffer_[0] == '*')
        return false;
    return !filter_ || filter_->IsTrue(Context());
}

Err WorkArea::FlushAppends()
{
    if (pending_.empty())
        return Err::Ok;
    window_.number = 0;
    uint32_t number = static_cast<uint32_t>(pending_.size() / table_.RecordLength());
    Err e = table_.WriteRecords(pendingFirst_, number, pending_.data());
    pending_.clear();
    return e;
}

Err WorkArea::WriteCurrent()
{
    window_.number = 0;
    if (!table_.Shared() && fresh_) {
        size_t length = table_.RecordLength();
        if (!pending_.empty() && recno_ != pendingFirst_ + pending_.size() / length)
            if (Err e = FlushAppends(); e != Err::Ok)
                return e;
        if (pending_.empty())
            pendingFirst_ = recno_;
        pending_.insert(pending_.end(), buffer_.begin(), buffer_.end());
        headerDirty_ = true;
        return pending_.size() >= (1u << 20) ? FlushAppends() : Err::Ok;
    }
    return table_.WriteRecords(recno_, 1, buffer_.data());
}

Err WorkArea::Flush()
{
    if (!dirty_)
        return Err::Ok;
    if (Err e = IndexFault(); e != Err::Ok)
        return e;
    bool autoLock = table_.Shared() && !locks_.count(recno_);
    if (autoLock)
        if (Err e = table_.LockRecord(recno_, settings_.lockTimeoutSeconds); e != Err::Ok)
            return e;
    struct Unlocker {
        DbfTable& t;
        uint32_t r;
        bool on;
        ~Unlocker()
        {
            if (on)
                t.UnlockRecord(r);
        }
    } unlocker{table_, recno_, autoLock};
    if (table_.Shared() && !fresh_) {
        // Keys are taken out as they stand on disk, which another process may have changed.
        if (Err e = table_.ReadRecords(recno_, 1, original_.data()); e != Err::Ok)
            return e;
    }
    if (!orders_.empty()) {
        if (Err e = AcquireIndexes(true); e != Err::Ok)
            return e;
        Err e = UpdateKeys(fresh_ ? nullptr : original_.data(), buffer_.data(), recno_);
        if (e == Err::Ok)
            e = WriteCurrent();
        if (e == Err::Ok && table_.Shared())
            e = FinishIndexWrites();
        ReleaseIndexes();
        if (e != Err::Ok)
            return e;
    } else if (Err e = WriteCurrent(); e != Err::Ok) {
        return e;
    }
    original_ = buffer_;
    dirty_ = false;
    fresh_ = false;
    if (order_ > 0)
        return PositionAtCurrentRecord();
    return Err::Ok;
}

Err WorkArea::PutRecord(const char* record)
{
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    memcpy(buffer_.data(), record, buffer_.size());
    if (buffer_[0] != '*')
        buffer_[0] = ' ';
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::ReplaceText(int field, const std::string& text)
{
    const auto& fields = table_.Fields();
    if (field < 0 || field >= static_cast<int>(fields.size()))
        return Err::NoSuchField;
    const Field& f = fields[field];
    switch (f.type) {
    case 'N': {
        std::string trimmed = text;
        trimmed.erase(0, trimmed.find_first_not_of(' '));
        if (trimmed.empty()) {
            if (!table_.Writable())
                return Err::ReadOnly;
            if (eof_)
                return Err::NotFound;
            std::fill(buffer_.begin() + f.offset, buffer_.begin() + f.offset + f.length, ' ');
            dirty_ = true;
            return Err::Ok;
        }
        char* end = nullptr;
        double v = strtod(trimmed.c_str(), &end);
        return ReplaceNumber(field, v);
    }
    case 'D': {
        int32_t julian = text.size() == 8 && std::all_of(text.begin(), text.end(), ::isdigit)
                             ? DateFromDtos(text.data(), 8)
                             : DateFromDtoc(text, settings_);
        return ReplaceDate(field, julian);
    }
    case 'L': return ReplaceLogical(field, KeyBoolean(text));
    default: break;
    }
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    char* p = buffer_.data() + f.offset;
    size_t n = std::min<size_t>(text.size(), f.length);
    memcpy(p, text.data(), n);
    memset(p + n, ' ', f.length - n);
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::ReplaceNumber(int field, double value)
{
    const auto& fields = table_.Fields();
    if (field < 0 || field >= static_cast<int>(fields.size()))
        return Err::NoSuchField;
    const Field& f = fields[field];
    if (f.type != 'N')
        return Err::ExprType;
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    std::string text;
    if (!FormatNumber(value, f.length, f.decimals, text))
        return Err::ValueTooWide;
    memcpy(buffer_.data() + f.offset, text.data(), f.length);
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::ReplaceLogical(int field, bool value)
{
    const auto& fields = table_.Fields();
    if (field < 0 || field >= static_cast<int>(fields.size()))
        return Err::NoSuchField;
    const Field& f = fields[field];
    if (f.type != 'L')
        return Err::ExprType;
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    buffer_[f.offset] = value ? 'T' : 'F';
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::ReplaceDate(int field, int32_t julian)
{
    const auto& fields = table_.Fields();
    if (field < 0 || field >= static_cast<int>(fields.size()))
        return Err::NoSuchField;
    const Field& f = fields[field];
    if (f.type != 'D')
        return Err::ExprType;
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    std::string text = DtosFromDate(julian);
    memcpy(buffer_.data() + f.offset, text.data(), 8);
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::AppendBlank()
{
    if (!table_.Writable())
        return Err::ReadOnly;
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (Err e = IndexFault(); e != Err::Ok)
        return e;
    window_.number = 0;
    if (table_.Shared()) {
        std::vector<char> blank(table_.RecordLength(), ' ');
        // The header lock makes the count and the new record one step for every process.
        if (Err e = table_.LockHeader(settings_.lockTimeoutSeconds); e != Err::Ok)
            return e;
        struct HeaderUnlock {
            DbfTable& t;
            ~HeaderUnlock() { t.UnlockHeader(); }
        } unlock{table_};
        if (Err e = table_.RefreshCount(); e != Err::Ok)
            return e;
        uint32_t n = table_.RecordCount() + 1;
        // The indexes are marked as being written before the record exists, so that a crash between
        // the two leaves them recognisably stale rather than silently short of a row.
        if (!orders_.empty()) {
            if (Err e = AcquireIndexes(true); e != Err::Ok)
                return e;
        }
        struct IndexRelease {
            WorkArea& a;
            bool on;
            ~IndexRelease()
            {
                if (on)
                    a.ReleaseIndexes();
            }
        } release{*this, !orders_.empty()};
        for (auto& cdx : indexes_)
            if (Err e = cdx->BeginWrite(); e != Err::Ok)
                return e;
        table_.SetCount(n);
        if (Err e = table_.WriteRecords(n, 1, blank.data()); e != Err::Ok)
            return e;
        if (Err e = table_.WriteHeader(); e != Err::Ok)
            return e;
        if (!orders_.empty()) {
            if (Err e = UpdateKeys(nullptr, blank.data(), n); e != Err::Ok)
                return e;
            if (Err e = FinishIndexWrites(); e != Err::Ok)
                return e;
        }
        recno_ = n;
        buffer_ = original_ = blank;
        fresh_ = dirty_ = false;
    } else {
        if (!orders_.empty()) {
            for (auto& cdx : indexes_)
                if (Err e = cdx->BeginWrite(); e != Err::Ok)
                    return e;
        }
        uint32_t n = table_.RecordCount() + 1;
        table_.SetCount(n);
        recno_ = n;
        std::fill(buffer_.begin(), buffer_.end(), ' '); // a fresh record has no old keys to compare
        fresh_ = dirty_ = true;
        headerDirty_ = true;
    }
    bof_ = eof_ = false;
    if (order_ > 0)
        posValid_ = false;
    return Err::Ok;
}

Err WorkArea::Delete()
{
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    buffer_[0] = '*';
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::Recall()
{
    if (!table_.Writable())
        return Err::ReadOnly;
    if (eof_)
        return Err::NotFound;
    buffer_[0] = ' ';
    dirty_ = true;
    return Err::Ok;
}

Err WorkArea::FinishIndexWrites()
{
    for (auto& cdx : indexes_)
        if (Err e = cdx->EndWrite(); e != Err::Ok)
            return e;
    return Err::Ok;
}

Err WorkArea::Commit()
{
    if (!table_.IsOpen() || !table_.Writable())
        return Err::Ok;
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (Err e = FlushAppends(); e != Err::Ok)
        return e;
    if (headerDirty_) {
        if (Err e = table_.WriteHeader(); e != Err::Ok)
            return e;
        headerDirty_ = false;
    }
    // A commit is on disk when it returns: the records first, then the keys that point at them.
    if (Err e = table_.Sync(); e != Err::Ok)
        return e;
    for (auto& cdx : indexes_)
        if (Err e = cdx->Commit(); e != Err::Ok)
            return e;
    return Err::Ok;
}

Err WorkArea::Lock(uint32_t recno)
{
    if (!table_.Shared())
        return Err::Ok;
    if (locks_.count(recno))
        return Err::Ok;
    if (Err e = table_.LockRecord(recno, settings_.lockTimeoutSeconds); e != Err::Ok)
        return e;
    locks_.insert(recno);
    return Err::Ok;
}

void WorkArea::Unlock(uint32_t recno)
{
    if (recno == 0) {
        for (uint32_t r : locks_)
            table_.UnlockRecord(r);
        locks_.clear();
    } else if (locks_.erase(recno)) {
        table_.UnlockRecord(recno);
    }
}

// ---- keys and indexes -------------------------------------------------------------------------

CdxTag* WorkArea::TagOf(OrderRef& o)
{
    auto& tags = indexes_[o.file]->Tags();
    if (o.tag < tags.size() && tags[o.tag].name == o.name)
        return &tags[o.tag];
    int i = indexes_[o.file]->FindTag(o.name);
    if (i < 0)
        return nullptr;
    o.tag = static_cast<size_t>(i);
    return &tags[i];
}

void WorkArea::ValueKey(const Value& v, char type, int length, std::vector<uint8_t>& out) const
{
    out.assign(length, type == 'C' ? ' ' : 0);
    switch (type) {
    case 'C': memcpy(out.data(), v.text.data(), std::min<size_t>(v.text.size(), length)); break;
    case 'N':
        if (length >= 8)
            NumberKey(v.number, out.data());
        break;
    case 'D':
        if (length >= 8)
            NumberKey(v.date, out.data());
        break;
    default: out[0] = v.logical ? 'T' : 'F';
    }
}

Err WorkArea::MakeKey(OrderRef& o, const char* record, uint32_t recno, OrderKey& out)
{
    CdxTag* tag = TagOf(o);
    if (!tag)
        return Err::NoSuchTag;
    EvalContext context{record, recno, &settings_};
    out.included = !o.condition || o.condition->IsTrue(context);
    ValueKey(o.key->Evaluate(context), o.type, tag->keyLength, out.key);
    return Err::Ok;
}

Err WorkArea::UpdateKeys(const char* before, const char* after, uint32_t recno)
{
    OrderKey oldKey, newKey;
    for (auto& o : orders_) {
        CdxFile& cdx = *indexes_[o.file];
        if (Err e = cdx.BeginWrite(); e != Err::Ok)
            return e;
        if (Err e = MakeKey(o, after, recno, newKey); e != Err::Ok)
            return e;
        if (before) {
            if (Err e = MakeKey(o, before, recno, oldKey); e != Err::Ok)
                return e;
            if (oldKey.included == newKey.included && oldKey.key == newKey.key)
                continue;
            if (oldKey.included)
                if (Err e = cdx.Remove(*TagOf(o), oldKey.key.data(), recno); e != Err::Ok)
                    return e;
        }
        if (newKey.included)
            if (Err e = cdx.Insert(*TagOf(o), newKey.key.data(), recno); e != Err::Ok)
                return e;
    }
    return Err::Ok;
}

Err WorkArea::AcquireIndexes(bool write, bool optimistic)
{
    bool changed = false;
    for (size_t i = 0; i < indexes_.size(); ++i) {
        if (Err e = indexes_[i]->Acquire(write, settings_.lockTimeoutSeconds, optimistic); e != Err::Ok) {
            for (size_t j = 0; j < i; ++j)
                indexes_[j]->Release();
            return e;
        }
        if (i >= indexGenerations_.size() || indexGenerations_[i] != indexes_[i]->Generation())
            changed = true;
    }
    if (changed) {
        if (Err e = SyncOrders(); e != Err::Ok) {
            ReleaseIndexes();
            return e;
        }
    }
    return Err::Ok;
}

void WorkArea::ReleaseIndexes()
{
    for (auto& cdx : indexes_)
        cdx->Release();
}

Err WorkArea::SyncOrders()
{
    std::string current = order_ > 0 && order_ <= static_cast<int>(orders_.size()) ? orders_[order_ - 1].name : "";
    std::vector<OrderRef> next;
    for (size_t f = 0; f < indexes_.size(); ++f) {
        for (CdxTag& tag : indexes_[f]->Tags()) {
            OrderRef ref;
            ref.file = f;
            ref.name = tag.name;
            ref.tag = static_cast<size_t>(&tag - indexes_[f]->Tags().data());
            for (auto& old : orders_) {
                if (old.file == f && old.name == tag.name && old.key && old.key->Text() == tag.keyExpression
                    && (old.condition ? old.condition->Text() : std::string()) == tag.forExpression) {
                    ref.key = std::move(old.key);
                    ref.condition = std::move(old.condition);
                }
            }
            if (!ref.key) {
                if (Err e = Expression::Compile(tag.keyExpression, table_.Fields(), ref.key); e != Err::Ok)
                    return Err::CorruptIndex;
                if (!tag.forExpression.empty()) {
                    if (Err e = Expression::Compile(tag.forExpression, table_.Fields(), ref.condition); e != Err::Ok)
                        return Err::CorruptIndex;
                    if (ref.condition->Type() != 'L')
                        return Err::CorruptIndex;
                }
            }
            ref.type = ref.key->Type();
            tag.fill = ref.type == 'C' ? 0x20 : 0x00;
            if (ref.type != 'C' && tag.keyLength != (ref.type == 'L' ? 1 : 8))
                return Err::CorruptIndex;
            next.push_back(std::move(ref));
        }
    }
    orders_ = std::move(next);
    indexGenerations_.clear();
    for (auto& cdx : indexes_)
        indexGenerations_.push_back(cdx->Generation());
    order_ = 0;
    for (size_t i = 0; i < orders_.size(); ++i)
        if (!current.empty() && orders_[i].name == current && order_ == 0)
            order_ = static_cast<int>(i) + 1;
    if (!current.empty() && order_ == 0)
        posValid_ = false;
    return Err::Ok;
}

Err WorkArea::OpenIndexFile(const std::string& path, bool create, size_t& which)
{
    for (size_t i = 0; i < indexes_.size(); ++i) {
        if (indexes_[i]->Path() == path) {
            which = i;
            return Err::Ok;
        }
    }
    auto cdx = std::make_unique<CdxFile>();
    Err e = FileExists(path) ? cdx->Open(path, table_.Writable(), table_.Shared(), settings_.lockTimeoutSeconds)
                             : Err::FileNotFound;
    // An index that may be read but not written still gives its orders; writes through it fail.
    if (e == Err::FileOpen && table_.Writable())
        e = cdx->Open(path, false, table_.Shared(), settings_.lockTimeoutSeconds);
    if (e == Err::FileNotFound && create) {
        if (!table_.Writable())
            return Err::ReadOnly;
        // Another process may make the file first: then that one is opened.
        if (Err c = CdxFile::CreateEmpty(path); c != Err::Ok && !FileExists(path))
            return c;
        e = cdx->Open(path, true, table_.Shared(), settings_.lockTimeoutSeconds);
    }
    if (e != Err::Ok)
        return e;
    indexes_.push_back(std::move(cdx));
    which = indexes_.size() - 1;
    if (path == ProductionIndexPath())
        watched_ = which;
    if (Err s = SyncOrders(); s != Err::Ok) {
        if (watched_ == which)
            watched_ = SIZE_MAX;
        indexes_.pop_back();
        (void)SyncOrders();
        return s;
    }
    return Err::Ok;
}

void WorkArea::CloseIndexes()
{
    if (!indexes_.empty())
        (void)Commit();
    indexes_.clear();
    watched_ = SIZE_MAX;
    window_.number = 0;
    countStamped_ = false;
    orders_.clear();
    indexGenerations_.clear();
    order_ = 0;
    posValid_ = false;
    scopeLow_.reset();
    scopeHigh_.reset();
}

int WorkArea::OrderCount() { return static_cast<int>(orders_.size()); }

Err WorkArea::SetOrder(int order)
{
    if (order < 0 || order > OrderCount())
        return Err::NoSuchTag;
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (order != order_) {
        scopeLow_.reset();
        scopeHigh_.reset();
    }
    order_ = order;
    posValid_ = false;
    if (order_ > 0 && !eof_)
        return PositionAtCurrentRecord();
    return Err::Ok;
}

int WorkArea::TagOrder(const std::string& name)
{
    std::string wanted = UpperText(name);
    for (size_t i = 0; i < orders_.size(); ++i)
        if (orders_[i].name == wanted)
            return static_cast<int>(i) + 1;
    return 0;
}

std::string WorkArea::TagName(int order)
{
    if (order < 1 || order > OrderCount())
        return "";
    return orders_[order - 1].name;
}

std::string WorkArea::IndexFile(int order)
{
    if (order < 1 || order > OrderCount())
        return "";
    return indexes_[orders_[order - 1].file]->Path();
}

std::string WorkArea::IndexKey(int order)
{
    if (order < 1 || order > OrderCount())
        return "";
    return orders_[order - 1].key->Text();
}

std::string WorkArea::IndexFor(int order)
{
    if (order < 1 || order > OrderCount())
        return "";
    auto& c = orders_[order - 1].condition;
    return c ? c->Text() : "";
}

bool WorkArea::IndexDescending(int order)
{
    if (order < 1 || order > OrderCount())
        return false;
    CdxTag* t = TagOf(orders_[order - 1]);
    return t && t->descending;
}

std::string WorkArea::KeyData()
{
    if (order_ == 0 || eof_)
        return "";
    OrderRef& o = orders_[order_ - 1];
    const Value& v = o.key->Evaluate(Context());
    switch (o.type) {
    case 'C': {
        std::string s = v.text;
        CdxTag* t = TagOf(o);
        if (t)
            s.resize(t->keyLength, ' ');
        return s;
    }
    case 'D': return DtosFromDate(v.date);
    default: return ValueText(v, settings_);
    }
}

std::string WorkArea::Folder() const
{
    size_t slash = table_.Path().find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : table_.Path().substr(0, slash));
}

Err WorkArea::BuildKeys(OrderRef& o, KeySorter& out)
{
    const int keyLength = out.KeyLength();
    uint32_t count = RecordCount();
    size_t length = table_.RecordLength();
    std::vector<uint8_t> key(keyLength);
    int lastPercent = -1;
    // The common keys (a text field, upper-cased or not) and condition (.not. deleted()) are taken
    // straight from the record.
    int keyField = -1, unusedField = -1;
    Expression::Shape keyShape = o.key->Form(keyField);
    bool direct = keyShape != Expression::Shape::Other && keyShape != Expression::Shape::NotDeleted
                  && table_.Fields()[keyField].length == keyLength;
    bool notDeleted = o.condition && o.condition->Form(unusedField) == Expression::Shape::NotDeleted;
    bool upper = keyShape == Expression::Shape::UpperTextField;
    size_t keyOffset = direct ? table_.Fields()[keyField].offset : 0;
    RecordScan scan(table_);
    Err e = scan.ForEachRun(count, [&](uint32_t first, uint32_t n, const char* records) {
        for (uint32_t i = 0; i < n; ++i) {
            const char* record = records + i * length;
            EvalContext c{record, first + i, &settings_};
            if (notDeleted ? record[0] == '*' : o.condition && !o.condition->IsTrue(c))
                continue;
            if (direct) {
                const char* text = record + keyOffset;
                for (int k = 0; k < keyLength; ++k) {
                    unsigned char ch = static_cast<unsigned char>(text[k]);
                    key[k] = upper && ch >= 'a' && ch <= 'z' ? static_cast<uint8_t>(ch - 32) : ch;
                }
            } else {
                ValueKey(o.key->Evaluate(c), o.type, keyLength, key);
            }
            if (Err e = out.Add(key.data(), first + i); e != Err::Ok)
                return e;
        }
        int percent = static_cast<int>(50.0 * (first + n - 1) / count);
        if (percent != lastPercent)
            Report(lastPercent = percent);
        return Err::Ok;
    });
    return e != Err::Ok ? e : out.Finish();
}

Err WorkArea::IndexTag(const std::string& file, const std::string& tagName, const std::string& key,
                       const std::string& condition, bool descending, int& order)
{
    order = 0;
    if (!table_.Writable())
        return Err::ReadOnly;
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (Err e = FlushAppends(); e != Err::Ok)
        return e;
    OrderRef ref;
    if (Err e = Expression::Compile(key, table_.Fields(), ref.key); e != Err::Ok)
        return e;
    if (!condition.empty()) {
        if (Err e = Expression::Compile(condition, table_.Fields(), ref.condition); e != Err::Ok)
            return e;
        if (ref.condition->Type() != 'L')
            return Err::ExprType;
    }
    ref.type = ref.key->Type();
    int keyLength = ref.type == 'C' ? ref.key->Width() : (ref.type == 'L' ? 1 : 8);
    if (keyLength < 1 || keyLength > kMaxKeyLength)
        return Err::KeyTooLong;
    std::string path;
    if (file.empty()) {
        path = ProductionIndexPath();
    } else {
        path = file.find('/') == std::string::npos && table_.Path().find('/') != std::string::npos
                   ? table_.Path().substr(0, table_.Path().find_last_of('/') + 1) + file
                   : file;
        if (path.find('.', path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/'))
            == std::string::npos)
            path += ".CDX";
        path = FindCaseInsensitive(path);
    }
    // A tag is never added to a file that could not be read: a new file would drop its other tags.
    if (file.empty())
        if (Err e = IndexFault(); e != Err::Ok)
            return e;
    size_t which = 0;
    if (Err e = OpenIndexFile(path, true, which); e != Err::Ok)
        return e;
    CdxFile& cdx = *indexes_[which];
    if (Err e = cdx.Acquire(true, settings_.lockTimeoutSeconds); e != Err::Ok)
        return e;
    struct Releaser {
        CdxFile& c;
        ~Releaser() { c.Release(); }
    } releaser{cdx};
    if (Err e = cdx.BeginWrite(); e != Err::Ok)
        return e;
    KeySorter keys(keyLength, Folder());
    Report(0);
    if (Err e = BuildKeys(ref, keys); e != Err::Ok)
        return e;
    CdxTag tag;
    tag.name = UpperText(tagName);
    tag.keyLength = keyLength;
    tag.descending = descending;
    tag.keyExpression = key;
    tag.forExpression = condition;
    tag.fill = ref.type == 'C' ? 0x20 : 0x00;
    if (Err e = cdx.AddTag(tag, keys, [this](int p) { Report(p); }); e != Err::Ok)
        return e;
    // A built tag is on disk when the build returns.
    if (Err e = cdx.Commit(); e != Err::Ok)
        return e;
    if (file.empty() && !table_.HasIndexFlag()) {
        table_.SetIndexFlag(true);
        if (Err e = table_.WriteHeader(settings_.lockTimeoutSeconds); e != Err::Ok)
            return e;
        if (Err e = table_.Sync(); e != Err::Ok)
            return e;
    }
    if (Err e = SyncOrders(); e != Err::Ok)
        return e;
    order = TagOrder(tag.name);
    order_ = order;
    scopeLow_.reset();
    scopeHigh_.reset();
    return GoTop();
}

Err WorkArea::IndexOpen(const std::string& file, int& order)
{
    order = 0;
    std::string path = FindCaseInsensitive(file);
    size_t which = 0;
    if (Err e = OpenIndexFile(path, false, which); e != Err::Ok)
        return e;
    for (size_t i = 0; i < orders_.size(); ++i)
        if (orders_[i].file == which) {
            order = static_cast<int>(i) + 1;
            break;
        }
    return Err::Ok;
}

Err WorkArea::Reindex()
{
    for (size_t i = 0; i < indexes_.size(); ++i) {
        std::string path = indexes_[i]->Path();
        std::vector<CdxTag> tags = indexes_[i]->Tags();
        FileReplacement out(path);
        if (Err e = out.Open(); e != Err::Ok)
            return e;
        if (Err e = CdxFile::WriteEmpty(out.Out()); e != Err::Ok)
            return e;
        CdxFile fresh;
        if (Err e = fresh.Open(std::move(out.Out())); e != Err::Ok)
            return e;
        for (CdxTag& tag : tags) {
            OrderRef* ref = nullptr;
            for (auto& o : orders_)
                if (o.file == i && o.name == tag.name)
                    ref = &o;
            if (!ref)
                return Err::NoSuchTag;
            KeySorter keys(tag.keyLength, Folder());
            if (Err e = BuildKeys(*ref, keys); e != Err::Ok)
                return e;
            if (Err e = fresh.AddTag(tag, keys, [this](int p) { Report(p); }); e != Err::Ok)
                return e;
        }
        fresh.Close();
        indexes_[i]->Close();
        if (Err e = out.Commit(); e != Err::Ok)
            return e;
        if (Err e = indexes_[i]->Open(path, true, table_.Shared()); e != Err::Ok)
            return e;
    }
    return SyncOrders();
}

Err WorkArea::Pack()
{
    if (table_.Mode() != OpenMode::Exclusive)
        return Err::ExclusiveNeeded;
    if (Err e = IndexFault(); e != Err::Ok)
        return e;
    window_.number = 0;
    if (Err e = Commit(); e != Err::Ok)
        return e;
    // The indexes are marked as being rewritten first: a crash before they are rebuilt leaves
    // them recognisably stale.
    for (auto& cdx : indexes_)
        if (Err e = cdx->BeginWrite(); e != Err::Ok)
            return e;
    std::string path = table_.Path();
    {
        FileReplacement out(path);
        if (Err e = out.Open(); e != Err::Ok)
            return e;
        std::vector<char> header(table_.HeaderLength());
        File source;
        if (Err e = source.Open(path, false); e != Err::Ok)
            return e;
        if (Err e = source.ReadAt(0, header.data(), header.size()); e != Err::Ok)
            return e;
        uint32_t count = table_.RecordCount();
        size_t length = table_.RecordLength();
        uint32_t per = static_cast<uint32_t>(std::max<size_t>(1, kScanBytes / length));
        std::vector<char> kept;
        RecordScan scan(table_);
        uint64_t at = header.size();
        uint32_t live = 0;
        Report(0);
        for (uint32_t first = 1; first <= count; first += per) {
            uint32_t n = std::min(per, count - first + 1);
            const char* chunk = nullptr;
            if (Err e = scan.Read(first, n, chunk); e != Err::Ok)
                return e;
            kept.clear();
            for (uint32_t i = 0; i < n; ++i) {
                const char* r = chunk + i * length;
                if (r[0] == '*')
                    continue;
                kept.insert(kept.end(), r, r + length);
                ++live;
            }
            if (Err e = out.Out().WriteAt(at, kept.data(), kept.size()); e != Err::Ok)
                return e;
            at += kept.size();
            Report(static_cast<int>(100.0 * (first + n - 1) / count));
        }
        const char eof = 0x1A;
        if (Err e = out.Out().WriteAt(at, &eof, 1); e != Err::Ok)
            return e;
        uint8_t c[4] = {uint8_t(live), uint8_t(live >> 8), uint8_t(live >> 16), uint8_t(live >> 24)};
        memcpy(header.data() + 4, c, 4);
        if (Err e = out.Out().WriteAt(0, header.data(), header.size()); e != Err::Ok)
            return e;
        if (Err e = out.Commit(); e != Err::Ok)
            return e;
    }
    DbfTable packed;
    if (Err e = packed.Open(path, OpenMode::Exclusive); e != Err::Ok)
        return e;
    table_ = std::move(packed);
    Report(0);
    if (Err e = Reindex(); e != Err::Ok)
        return e;
    Report(100);
    return GoTop();
}

// ---- movement ---------------------------------------------------------------------------------

bool WorkArea::InScope(const uint8_t* key) const
{
    if (scopeLow_ && memcmp(key, scopeLow_->data(), scopeLow_->size()) < 0)
        return false;
    if (scopeHigh_ && memcmp(key, scopeHigh_->data(), scopeHigh_->size()) > 0)
        return false;
    return true;
}

void WorkArea::RememberPosition()
{
    posKey_.assign(pos_.Key(), pos_.Key() + pos_.keyLength);
    posRecno_ = pos_.Recno();
    posGeneration_ = indexes_[orders_[order_ - 1].file]->Generation();
    posValid_ = true;
}

Err WorkArea::PositionAtCurrentRecord()
{
    OrderKey k;
    if (Err e = MakeKey(orders_[order_ - 1], buffer_.data(), recno_, k); e != Err::Ok)
        return e;
    posKey_ = k.key;
    posRecno_ = recno_;
    posGeneration_ = 0; // found again on the next move
    posValid_ = true;
    return Err::Ok;
}

// From pos_, moves in presentation direction until a visible record inside the scope.
Err WorkArea::TagSettle(int direction, bool& landed)
{
    OrderRef& o = orders_[order_ - 1];
    CdxFile& cdx = *indexes_[o.file];
    CdxTag* tag = TagOf(o);
    if (!tag)
        return Err::NoSuchTag;
    bool forward = (direction > 0) != tag->descending;
    uint32_t count = table_.RecordCount();
    landed = false;
    while (pos_.Valid()) {
        if (!InScope(pos_.Key()))
            return Err::Ok;
        uint32_t r = pos_.Recno();
        if (r > count && table_.Shared() && table_.RefreshCount() == Err::Ok)
            count = table_.RecordCount();
        if (r >= 1 && r <= count) {
            if (Err e = ReadAheadAlongLeaf(r, forward, count); e != Err::Ok)
                return e;
            if (Err e = ReadCurrent(r); e != Err::Ok)
                return e;
            if (Visible()) {
                RememberPosition();
                landed = true;
                return Err::Ok;
            }
        }
        if (Err e = forward ? cdx.Next(*tag, pos_) : cdx.Prev(*tag, pos_); e != Err::Ok)
            return e;
    }
    return Err::Ok;
}

Err WorkArea::TagEdge(bool top)
{
    if (Err e = AcquireIndexes(false); e != Err::Ok)
        return e;
    struct Releaser {
        WorkArea& a;
        ~Releaser() { a.ReleaseIndexes(); }
    } releaser{*this};
    if (order_ == 0)
        return Err::NoOrder;
    OrderRef& o = orders_[order_ - 1];
    CdxFile& cdx = *indexes_[o.file];
    CdxTag* tag = TagOf(o);
    if (!tag)
        return Err::NoSuchTag;
    if (table_.Shared())
        (void)table_.RefreshCount();
    bool treeFirst = top != tag->descending;
    Err e;
    if (treeFirst) {
        if (scopeLow_) {
            std::vector<uint8_t> k(*scopeLow_);
            k.resize(tag->keyLength, 0x00);
            e = cdx.Find(*tag, k.data(), 0, pos_);
        } else {
            e = cdx.First(*tag, pos_);
        }
    } else {
        if (scopeHigh_) {
            std::vector<uint8_t> k(*scopeHigh_);
            k.resize(tag->keyLength, 0xFF);
            e = cdx.Find(*tag, k.data(), 0xFFFFFFFF, pos_);
            if (e == Err::Ok)
                e = pos_.Valid() ? cdx.Prev(*tag, pos_) : cdx.Last(*tag, pos_);
        } else {
            e = cdx.Last(*tag, pos_);
        }
    }
    if (e != Err::Ok)
        return e;
    bool landed = false;
    if (Err s = TagSettle(top ? 1 : -1, landed); s != Err::Ok)
        return s;
    if (!landed) {
        SetEof();
        bof_ = true;
    }
    return Err::Ok;
}

// A step is the hot path of every listing: it goes without the index lock while nothing changed
// (see CdxFile::Acquire), and once more under the lock when the index changed under it.
Err WorkArea::TagStep(int direction)
{
    Err e = TagStepOnce(direction, table_.Shared());
    return e == Err::IndexChanged ? TagStepOnce(direction, false) : e;
}

Err WorkArea::TagStepOnce(int direction, bool optimistic)
{
    if (Err e = AcquireIndexes(false, optimistic); e != Err::Ok)
        return e;
    struct Releaser {
        WorkArea& a;
        ~Releaser() { a.ReleaseIndexes(); }
    } releaser{*this};
    if (order_ == 0)
        return Err::NoOrder;
    OrderRef& o = orders_[order_ - 1];
    CdxFile& cdx = *indexes_[o.file];
    CdxTag* tag = TagOf(o);
    if (!tag)
        return Err::NoSuchTag;
    bool forward = (direction > 0) != tag->descending;
    // The record count is read again only when the index changed: a record that another process
    // appends reaches the index after the table, so an unchanged index names no record past it.
    if (table_.Shared() && countGeneration_ != cdx.Generation()) {
        (void)table_.RefreshCount();
        countGeneration_ = cdx.Generation();
    }
    if (!posValid_) {
        if (Err e = PositionAtCurrentRecord(); e != Err::Ok)
            return e;
    }
    if (posGeneration_ != cdx.Generation() || !pos_.Valid()) {
        if (Err e = cdx.Find(*tag, posKey_.data(), posRecno_, pos_); e != Err::Ok)
            return e;
        bool exact =
            pos_.Valid() && pos_.Recno() == posRecno_ && memcmp(pos_.Key(), posKey_.data(), posKey_.size()) == 0;
        Err e = Err::Ok;
        if (forward) {
            if (exact)
                e = cdx.Next(*tag, pos_);
        } else {
            e = pos_.Valid() ? cdx.Prev(*tag, pos_) : cdx.Last(*tag, pos_);
        }
        if (e != Err::Ok)
            return e;
    } else {
        if (Err e = forward ? cdx.Next(*tag, pos_) : cdx.Prev(*tag, pos_); e != Err::Ok)
            return e;
    }
    bool landed = false;
    if (Err e = TagSettle(direction, landed); e != Err::Ok)
        return e;
    if (landed)
        return Err::Ok;
    if (direction > 0) {
        SetEof();
        return Err::Ok;
    }
    // Before the first record: stay on the top one with Bof set.
    if (Err e = TagEdge(true); e != Err::Ok)
        return e;
    bof_ = true;
    return Err::Ok;
}

Err WorkArea::GoTop()
{
    if (Err e = Flush(); e != Err::Ok)
        return e;
    bof_ = eof_ = false;
    if (order_ > 0)
        return TagEdge(true);
    uint32_t count = RecordCount();
    for (uint32_t r = 1; r <= count; ++r) {
        if (Err e = ReadAheadFrom(r, 1, count); e != Err::Ok)
            return e;
        if (Err e = ReadCurrent(r); e != Err::Ok)
            return e;
        if (Visible())
            return Err::Ok;
    }
    SetEof();
    bof_ = true;
    return Err::Ok;
}

Err WorkArea::GoBottom()
{
    if (Err e = Flush(); e != Err::Ok)
        return e;
    bof_ = eof_ = false;
    if (order_ > 0)
        return TagEdge(false);
    uint32_t count = RecordCount();
    for (uint32_t r = count; r >= 1; --r) {
        if (Err e = ReadAheadFrom(r, -1, count); e != Err::Ok)
            return e;
        if (Err e = ReadCurrent(r); e != Err::Ok)
            return e;
        if (Visible())
            return Err::Ok;
    }
    SetEof();
    bof_ = true;
    return Err::Ok;
}

Err WorkArea::Go(long recno)
{
    if (Err e = Flush(); e != Err::Ok)
        return e;
    bof_ = false;
    if (recno < 1 || recno > static_cast<long>(RecordCount())) {
        SetEof();
        return Err::Ok;
    }
    if (Err e = ReadCurrent(static_cast<uint32_t>(recno)); e != Err::Ok)
        return e;
    if (order_ > 0)
        return PositionAtCurrentRecord();
    return Err::Ok;
}

Err WorkArea::Skip(long count)
{
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (count == 0) {
        if (eof_)
            return Err::Ok;
        return ReadCurrent(recno_);
    }
    int direction = count > 0 ? 1 : -1;
    for (long step = 0; step < std::labs(count); ++step) {
        if (direction > 0) {
            if (eof_)
                return Err::Ok;
            bof_ = false;
            if (order_ > 0) {
                if (Err e = TagStep(1); e != Err::Ok)
                    return e;
                continue;
            }
            // The records up to the count known are there (a shared table only grows): the count
            // is read again at its end.
            uint32_t total = table_.RecordCount();
            bool landed = false;
            for (uint32_t r = recno_ + 1; !landed; ++r) {
                if (r > total && (total = RecordCount(), r > total))
                    break;
                if (Err e = ReadAheadFrom(r, 1, total); e != Err::Ok)
                    return e;
                if (Err e = ReadCurrent(r); e != Err::Ok)
                    return e;
                landed = Visible();
            }
            if (!landed)
                SetEof();
        } else {
            if (eof_) {
                if (Err e = GoBottom(); e != Err::Ok)
                    return e;
                if (eof_)
                    return Err::Ok;
                continue;
            }
            if (order_ > 0) {
                if (Err e = TagStep(-1); e != Err::Ok)
                    return e;
                if (bof_)
                    return Err::Ok;
                continue;
            }
            bool landed = false;
            uint32_t total = table_.RecordCount();
            for (uint32_t r = std::min(recno_ - 1, total); r >= 1 && !landed; --r) {
                if (Err e = ReadAheadFrom(r, -1, total); e != Err::Ok)
                    return e;
                if (Err e = ReadCurrent(r); e != Err::Ok)
                    return e;
                landed = Visible();
            }
            if (!landed) {
                if (Err e = GoTop(); e != Err::Ok)
                    return e;
                bof_ = true;
                return Err::Ok;
            }
        }
    }
    return Err::Ok;
}

Err WorkArea::TextKey(OrderRef& o, const std::string& text, std::vector<uint8_t>& key, size_t& compareLength)
{
    CdxTag* tag = TagOf(o);
    if (!tag)
        return Err::NoSuchTag;
    Value v;
    v.type = o.type;
    switch (o.type) {
    case 'C':
        key.assign(text.begin(), text.end());
        if (key.size() > static_cast<size_t>(tag->keyLength))
            key.resize(tag->keyLength);
        if (settings_.exact)
            key.resize(tag->keyLength, ' ');
        compareLength = key.size();
        return Err::Ok;
    case 'D': {
        std::string t = text;
        v.date = t.size() == 8 && std::all_of(t.begin(), t.end(), ::isdigit) ? DateFromDtos(t.data(), 8)
                                                                             : DateFromDtoc(t, settings_);
        break;
    }
    case 'N': v.number = strtod(text.c_str(), nullptr); break;
    default: v.logical = KeyBoolean(text);
    }
    ValueKey(v, o.type, tag->keyLength, key);
    compareLength = key.size();
    return Err::Ok;
}

Err WorkArea::Seek(const std::string& text, bool& found)
{
    found = false;
    if (order_ == 0)
        return Err::NoOrder;
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (Err e = AcquireIndexes(false); e != Err::Ok)
        return e;
    struct Releaser {
        WorkArea& a;
        ~Releaser() { a.ReleaseIndexes(); }
    } releaser{*this};
    if (order_ == 0)
        return Err::NoOrder;
    OrderRef& o = orders_[order_ - 1];
    CdxFile& cdx = *indexes_[o.file];
    CdxTag* tag = TagOf(o);
    if (!tag)
        return Err::NoSuchTag;
    if (table_.Shared())
        (void)table_.RefreshCount();
    std::vector<uint8_t> target;
    size_t length = 0;
    if (Err e = TextKey(o, text, target, length); e != Err::Ok)
        return e;
    std::vector<uint8_t> probe(target);
    Err e;
    if (!tag->descending) {
        probe.resize(tag->keyLength, 0x00);
        e = cdx.Find(*tag, probe.data(), 0, pos_);
    } else {
        // Descending: the first match in presentation order is the last one in the tree.
        probe.resize(tag->keyLength, 0xFF);
        e = cdx.Find(*tag, probe.data(), 0xFFFFFFFF, pos_);
        if (e == Err::Ok)
            e = pos_.Valid() ? cdx.Prev(*tag, pos_) : cdx.Last(*tag, pos_);
    }
    if (e != Err::Ok)
        return e;
    bool forward = !tag->descending;
    uint32_t count = table_.RecordCount();
    bof_ = false;
    while (pos_.Valid() && memcmp(pos_.Key(), target.data(), length) == 0) {
        uint32_t r = pos_.Recno();
        if (InScope(pos_.Key()) && r >= 1 && r <= count) {
            if (Err re = ReadCurrent(r); re != Err::Ok)
                return re;
            if (Visible()) {
                RememberPosition();
                found = true;
                return Err::Ok;
            }
        }
        if (Err ne = forward ? cdx.Next(*tag, pos_) : cdx.Prev(*tag, pos_); ne != Err::Ok)
            return ne;
    }
    if (!settings_.softSeek) {
        SetEof();
        return Err::Ok;
    }
    bool landed = false;
    if (Err se = TagSettle(1, landed); se != Err::Ok)
        return se;
    if (!landed)
        SetEof();
    return Err::Ok;
}

Err WorkArea::SetScope(const char* low, const char* high)
{
    if (Err e = Flush(); e != Err::Ok)
        return e;
    scopeLow_.reset();
    scopeHigh_.reset();
    if (!low && !high)
        return Err::Ok;
    if (order_ == 0)
        return Err::NoOrder;
    OrderRef& o = orders_[order_ - 1];
    size_t length = 0;
    std::vector<uint8_t> k;
    if (low) {
        if (Err e = TextKey(o, low, k, length); e != Err::Ok)
            return e;
        scopeLow_ = k;
    }
    if (high) {
        if (Err e = TextKey(o, high, k, length); e != Err::Ok)
            return e;
        scopeHigh_ = k;
    }
    return Err::Ok;
}

Err WorkArea::SetFilter(const char* expression)
{
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (!expression || !*expression) {
        filter_.reset();
        filterText_.clear();
        return Err::Ok;
    }
    std::unique_ptr<Expression> compiled;
    if (Err e = Expression::Compile(expression, table_.Fields(), compiled); e != Err::Ok)
        return e;
    if (compiled->Type() != 'L')
        return Err::ExprType;
    filter_ = std::move(compiled);
    filterText_ = expression;
    return Err::Ok;
}

Err WorkArea::Compile(const std::string& text, const Expression*& out)
{
    auto it = expressions_.find(text);
    if (it == expressions_.end()) {
        std::unique_ptr<Expression> e;
        if (Err err = Expression::Compile(text, table_.Fields(), e); err != Err::Ok)
            return err;
        if (expressions_.size() > 256)
            expressions_.clear();
        it = expressions_.emplace(text, std::move(e)).first;
    }
    out = it->second.get();
    return Err::Ok;
}

Err WorkArea::CountVisible(long& count)
{
    count = 0;
    if (order_ > 0 && (scopeLow_ || scopeHigh_)) {
        if (Err e = Flush(); e != Err::Ok)
            return e;
        if (Err e = FlushAppends(); e != Err::Ok)
            return e;
        uint32_t keep = recno_;
        bool keepEof = eof_, keepBof = bof_;
        // Only the scope's keys are read, in order.
        if (Err e = TagEdge(true); e != Err::Ok)
            return e;
        while (!eof_) {
            ++count;
            if (Err e = TagStep(1); e != Err::Ok)
                return e;
        }
        return RestorePosition(keep, keepEof, keepBof);
    }
    std::vector<const Expression*> conditions;
    if (order_ > 0 && orders_[order_ - 1].condition)
        conditions.push_back(orders_[order_ - 1].condition.get());
    if (filter_)
        conditions.push_back(filter_.get());
    return CountRecords(conditions, count);
}

Err WorkArea::CountMatching(const std::string& condition, long& count)
{
    count = 0;
    std::vector<const Expression*> conditions;
    if (!condition.empty()) {
        const Expression* e = nullptr;
        if (Err err = Compile(condition, e); err != Err::Ok)
            return err;
        if (e->Type() != 'L')
            return Err::ExprType;
        conditions.push_back(e);
    }
    return CountRecords(conditions, count);
}

Err WorkArea::RestorePosition(uint32_t recno, bool eof, bool bof)
{
    if (eof) {
        SetEof();
    } else if (Err e = ReadCurrent(recno); e != Err::Ok) {
        return e;
    } else if (order_ > 0) {
        if (Err p = PositionAtCurrentRecord(); p != Err::Ok)
            return p;
    }
    bof_ = bof;
    return Err::Ok;
}

Err WorkArea::CountRecords(const std::vector<const Expression*>& conditions, long& count)
{
    count = 0;
    if (Err e = Flush(); e != Err::Ok)
        return e;
    if (Err e = FlushAppends(); e != Err::Ok)
        return e;
    bool served = false;
    Err e = CountFromTag(conditions, served, count);
    // A tag that cannot be read does not stop the count: the records still tell.
    if (e == Err::LockTimeout)
        return e;
    if (e == Err::Ok && served)
        return Err::Ok;
    uint32_t keep = recno_;
    bool keepEof = eof_, keepBof = bof_;
    if (Err s = CountByScan(conditions, count); s != Err::Ok)
        return s;
    return RestorePosition(keep, keepEof, keepBof);
}

// A tag serves when the conditions it was built with are among those asked for, and what is
// left over is nothing (every entry counts) or a test of the tag's logical key (the entries with
// key T or F count). The Deleted setting asks for .NOT. DELETED().
Err WorkArea::CountFromTag(const std::vector<const Expression*>& conditions, bool& served, long& count)
{
    served = false;
    if (orders_.empty())
        return Err::Ok;
    std::vector<std::string> wanted;
    for (const Expression* c : conditions)
        for (std::string& part : c->Conjuncts())
            wanted.push_back(std::move(part));
    if (settings_.deleted) {
        std::unique_ptr<Expression> notDeleted;
        if (Err e = Expression::Compile(".NOT. DELETED()", table_.Fields(), notDeleted); e != Err::Ok)
            return e;
        wanted.push_back(notDeleted->Canonical());
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

    if (Err e = AcquireIndexes(false); e != Err::Ok)
        return e;
    struct Releaser {
        WorkArea& a;
        ~Releaser() { a.ReleaseIndexes(); }
    } releaser{*this};
    for (auto& o : orders_) {
        std::vector<std::string> rest = wanted;
        bool covered = true;
        if (o.condition) {
            for (const std::string& part : o.condition->Conjuncts()) {
                auto it = std::find(rest.begin(), rest.end(), part);
                if (it == rest.end()) {
                    covered = false;
                    break;
                }
                rest.erase(it);
            }
        }
        if (!covered || rest.size() > 1)
            continue;
        uint8_t key = 0;
        if (rest.size() == 1) {
            if (o.type != 'L')
                continue;
            if (rest[0] == o.key->Canonical())
                key = 'T';
            else if (rest[0] == o.key->NegatedCanonical())
                key = 'F';
            else
                continue;
        }
        CdxTag* tag = TagOf(o);
        if (!tag)
            continue;
        uint64_t n = 0;
        if (Err e = indexes_[o.file]->CountKeys(*tag, key ? &key : nullptr, n); e != Err::Ok)
            return e;
        count = static_cast<long>(n);
        served = true;
        return Err::Ok;
    }
    return Err::Ok;
}

Err WorkArea::CountByScan(const std::vector<const Expression*>& conditions, long& count)
{
    count = 0;
    size_t length = table_.RecordLength();
    RecordScan scan(table_);
    return scan.ForEachRun(RecordCount(), [&](uint32_t first, uint32_t n, const char* records) {
        for (uint32_t i = 0; i < n; ++i) {
            const char* r = records + i * length;
            if (settings_.deleted && r[0] == '*')
                continue;
            EvalContext c{r, first + i, &settings_};
            if (std::all_of(conditions.begin(), conditions.end(), [&c](const Expression* e) { return e->IsTrue(c); }))
                ++count;
        }
        return Err::Ok;
    });
}

Err WorkArea::Check(std::string& where)
{
    if (Err e = IndexFault(); e != Err::Ok) {
        where = "index " + indexFaultPath_ + " " + IndexFaultText();
        return e;
    }
    if (Err e = Commit(); e != Err::Ok)
        return e;
    if (table_.Shared())
        (void)table_.RefreshCount();
    if (Err e = table_.CheckRecords(where); e != Err::Ok)
        return e;
    if (Err e = AcquireIndexes(false); e != Err::Ok)
        return e;
    struct Releaser {
        WorkArea& a;
        ~Releaser() { a.ReleaseIndexes(); }
    } releaser{*this};
    for (auto& o : orders_) {
        CdxTag* tag = TagOf(o);
        if (!tag)
            return Err::NoSuchTag;
        KeySorter expected(tag->keyLength, Folder());
        if (Err e = BuildKeys(o, expected); e != Err::Ok)
            return e;
        const int kl = tag->keyLength;
        CdxFile& cdx = *indexes_[o.file];
        CdxPosition p;
        if (Err e = cdx.First(*tag, p); e != Err::Ok) {
            where = "tag " + tag->name + ": " + ErrorText(e);
            return Err::CorruptIndex;
        }
        const uint8_t* key = nullptr;
        uint32_t recno = 0;
        bool more = false;
        for (uint64_t i = 1;; ++i) {
            if (Err e = expected.Next(key, recno, more); e != Err::Ok)
                return e;
            if (!more && !p.Valid())
                break;
            if (!more) {
                where = "tag " + tag->name + ": entry for record " + std::to_string(p.Recno()) + " has no record";
                return Err::CorruptIndex;
            }
            if (!p.Valid()) {
                where = "tag " + tag->name + ": record " + std::to_string(recno) + " missing";
                return Err::CorruptIndex;
            }
            if (p.Recno() != recno || memcmp(p.Key(), key, kl) != 0) {
                where = "tag " + tag->name + ": record " + std::to_string(recno) + " expected at position "
                        + std::to_string(i) + ", found record " + std::to_string(p.Recno());
                return Err::CorruptIndex;
            }
            if (Err e = cdx.Next(*tag, p); e != Err::Ok) {
                where = "tag " + tag->name + ": " + ErrorText(e);
                return Err::CorruptIndex;
            }
        }
    }
    return Err::Ok;
}

} // namespace zn::xbase
