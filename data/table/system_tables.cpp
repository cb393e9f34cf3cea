#include "system_tables.h"

#include <algorithm>

#include "platform/folders.h"

namespace zn::data {

const char* const kTagCondition = ".not. deleted()";
const char* const kArchiveFilterAtStart = ".not. archived";
const char* const kArchiveFilter = ".not. ARCHIVED";
const char* const kNotDeletedFilter = ".not. deleted()";

const std::vector<FieldDef>& FaxFields()
{
    static const std::vector<FieldDef> fields = {
        {"SUBJECT", "C", 50, 0, "Subject"},   {"DATESENT", "D", 8, 0, "Date Sent"},
        {"TIMESENT", "C", 5, 0, "Time Sent"}, {"RECIPIENT", "C", 35, 0, "Recipient"},
        {"PHONE", "C", 25, 0, "Fax#"},        {"LASTRESULT", "C", 100, 0, "Last Attempt"},
        {"FAXDOC", "C", 12, 0, "FAXDOC"},     {"FAXCOVER", "C", 12, 0, "FAXCOVER"},
        {"NOTES", "C", 50, 0, "Notes"},       {"CODES", "C", 25, 0, "Codes"},
        {"ARCHIVED", "L", 1, 0, "Archived"},
    };
    return fields;
}

const std::vector<FieldDef>& RecFaxFields()
{
    static const std::vector<FieldDef> fields = {
        {"DATEREC", "D", 8, 0, "Date Rec'd"}, {"TIMEREC", "C", 5, 0, "Time Rec'd"}, {"FROM", "C", 20, 0, "From"},
        {"PAGES", "N", 2, 0, "Pages"},        {"FAXFILE", "C", 12, 0, "Fax File"},  {"NOTES", "C", 60, 0, "Notes"},
        {"ARCHIVED", "L", 1, 0, "Archived"},
    };
    return fields;
}

const std::vector<FieldDef>& PhoneFields()
{
    static const std::vector<FieldDef> fields = {
        {"NAME", "C", 35, 0, "Name"},
        {"PHONE", "C", 25, 0, "Phone"},
    };
    return fields;
}

const std::vector<TagDef>& FaxTags()
{
    static const std::vector<TagDef> tags = {
        {"DATESENT", "DTOS(DATESENT)+TIMESENT", 1, true},
        {"SUBJECT", "UPPER(SUBJECT)", 0, true},
        {"RECIPIENT", "UPPER(RECIPIENT)", 0, true},
        {"CODES", "UPPER(CODES)", 0, true},
        {"ARCHIVED", "ARCHIVED", 0, true},
        {"DATEND", "DTOS(DATESENT)+TIMESENT", 0, false},
    };
    return tags;
}

const std::vector<TagDef>& RecFaxTags()
{
    static const std::vector<TagDef> tags = {
        {"DATETIME", "DTOS(DATEREC)+TIMEREC", 1, true},
        {"FROM", "UPPER(FROM)", 1, true},
        {"ARCHIVED", "ARCHIVED", 0, true},
        {"DATEND", "DTOS(DATEREC)+TIMEREC", 0, false},
    };
    return tags;
}

const std::vector<TagDef>& PhoneTags()
{
    static const std::vector<TagDef> tags = {
        {"NAME", "NAME", 0, true},
    };
    return tags;
}

int StoredPageCount(int pages) { return std::clamp(pages, 0, kMaxStoredPages); }

void PutPageCount(TField& pages, int count) { pages.SetAsInteger(StoredPageCount(count)); }

void ApplyFieldLabels(TTable& table, const std::vector<FieldDef>& fields)
{
    for (const FieldDef& d : fields)
        if (TField* f = table.FindField(d.name))
            f->SetDisplayLabel(d.label);
}

void BuildTags(TVeldrane& veldrane, const std::vector<TagDef>& tags, bool openingSetOnly)
{
    for (const TagDef& t : tags) {
        if (openingSetOnly && !t.opening)
            continue;
        if (veldrane.IndexTag("", t.name, t.key, 0, t.flag, kTagCondition) <= 0)
            throw EDatabaseError(DBIERR_OPENFAILED, std::string("tag ") + t.name);
    }
}

namespace {

bool MakeTable(TVeldrane& veldrane, const std::string& path, const std::vector<FieldDef>& fields)
{
    try {
        if (!veldrane.CreateNew(path, 2, static_cast<int>(fields.size())))
            return false;
        for (const FieldDef& f : fields)
            veldrane.CreateField(f.name, f.type, f.width, f.decimals);
        if (!veldrane.CreateExec())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    return platform::FileExistsCI(path);
}

std::string Folder(const std::string& programFolder)
{
    if (!programFolder.empty() && programFolder.back() != '/')
        return programFolder + "/";
    return programFolder;
}

enum class Kind { Fax, RecFax, Phone };

// An index file that is there but cannot be used (damaged, half-written by a writer that died)
// refuses every write: it is removed and the opening set of tags built again from the records.
// That needs sole use; a table others hold stays as it is, readable in record order.
void RepairIndex(TTable& table, TVeldrane& veldrane, const std::string& cdx, const std::vector<TagDef>& tags)
{
    const bool shared = !table.Exclusive();
    if (shared) {
        table.Close();
        table.SetExclusive(true);
        try {
            table.Open();
        } catch (const EDatabaseError&) {
            table.SetExclusive(false);
            table.Open();
            return;
        }
    }
    veldrane.CloseIndexes();
    platform::DeleteFileCI(cdx);
    BuildTags(veldrane, tags, true);
    if (shared) {
        table.Close();
        table.SetExclusive(false);
        table.Open();
    }
}

bool OpenTable(TTable& table, TVeldrane& veldrane, const std::string& programFolder, Kind kind, bool exclusive,
               bool setExclusive)
{
    const std::string folder = Folder(programFolder);
    const char* base = kind == Kind::Fax ? "ZNOUT" : kind == Kind::RecFax ? "ZNREC" : "ZNPB";
    const std::vector<FieldDef>& fields = kind == Kind::Fax      ? FaxFields()
                                          : kind == Kind::RecFax ? RecFaxFields()
                                                                 : PhoneFields();
    const std::vector<TagDef>& tags = kind == Kind::Fax ? FaxTags() : kind == Kind::RecFax ? RecFaxTags() : PhoneTags();
    const std::string dbf = std::string(base) + ".DBF";
    try {
        table.SetDatabaseName(folder);
        table.SetTableName(dbf);
        if (!platform::FileExistsCI(folder + dbf)) {
            bool made = kind == Kind::Fax      ? MakeFaxDBF(veldrane, folder)
                        : kind == Kind::RecFax ? MakeRecFaxDBF(veldrane, folder)
                                               : MakePhoneDBF(veldrane, folder);
            if (!made)
                return false;
        }
        table.Close();
        if (setExclusive)
            table.SetExclusive(exclusive);
        table.Open();
    } catch (const std::exception&) {
        return false;
    }
    try {
        ApplyFieldLabels(table, fields);
        const std::string cdx = folder + base + ".CDX";
        if (!platform::FileExistsCI(cdx))
            BuildTags(veldrane, tags, true);
        else if (veldrane.SysProp(3001, 0) < 0)
            RepairIndex(table, veldrane, cdx, tags);
        if (kind == Kind::Fax) {
            table.First();
            veldrane.Query(kArchiveFilterAtStart);
        } else if (kind == Kind::RecFax) {
            veldrane.Query(kNotDeletedFilter);
        } else {
            veldrane.SetOrder(veldrane.TagArea("NAME"));
            veldrane.Query(kNotDeletedFilter);
        }
    } catch (const std::exception&) {
        // The table is open: what failed after that (a tag, a filter) is made good by a rebuild.
    }
    return true;
}

} // namespace

bool MakeFaxDBF(TVeldrane& veldrane, const std::string& programFolder)
{
    return MakeTable(veldrane, Folder(programFolder) + "ZNOUT.DBF", FaxFields());
}

bool OpenFaxDBF(TTable& table, TVeldrane& veldrane, const std::string& programFolder)
{
    return OpenTable(table, veldrane, programFolder, Kind::Fax, false, false);
}

bool MakeRecFaxDBF(TVeldrane& veldrane, const std::string& programFolder)
{
    return MakeTable(veldrane, Folder(programFolder) + "ZNREC.DBF", RecFaxFields());
}

bool OpenRecFaxDBF(TTable& table, TVeldrane& veldrane, const std::string& programFolder)
{
    return OpenTable(table, veldrane, programFolder, Kind::RecFax, false, false);
}

bool MakePhoneDBF(TVeldrane& veldrane, const std::string& programFolder)
{
    return MakeTable(veldrane, Folder(programFolder) + "ZNPB.DBF", PhoneFields());
}

bool OpenPhoneDBF(TTable& table, TVeldrane& veldrane, bool exclusive, const std::string& programFolder)
{
    return OpenTable(table, veldrane, programFolder, Kind::Phone, exclusive, true);
}

} // namespace zn::data
