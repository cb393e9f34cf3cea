// The system's three tables in the program folder: ZNOUT (outgoing faxes), ZNREC (received faxes)
// and ZNPB (the phone book). Each is a DBF with a production CDX of the same base name. The Make
// procedures create the DBF; the Open procedures create it when missing, open it, build the tags
// when the CDX is missing, and set the filters. The folder ends in "/". The dataset's Exclusive
// setting is kept for ZNOUT and ZNREC (the main window's are exclusive, which packing needs);
// OpenPhoneDBF sets it from its argument.
#pragma once
#include <string>
#include <vector>

#include "dataset.h"
#include "veldrane.h"

namespace zn::data {

struct FieldDef {
    const char* name;
    const char* type;
    int width;
    int decimals;
    const char* label; // the grid column's caption
};

struct TagDef {
    const char* name;
    const char* key;
    int flag;     // 1: descending
    bool opening; // built when the table opens without a CDX; the rest only by a rebuild
};

// Every tag carries this condition.
extern const char* const kTagCondition;         // ".not. deleted()"
extern const char* const kArchiveFilterAtStart; // ".not. archived"
extern const char* const kArchiveFilter;        // ".not. ARCHIVED"
extern const char* const kNotDeletedFilter;     // ".not. deleted()"

const std::vector<FieldDef>& FaxFields();    // ZNOUT
const std::vector<FieldDef>& RecFaxFields(); // ZNREC
const std::vector<FieldDef>& PhoneFields();  // ZNPB
const std::vector<TagDef>& FaxTags();
const std::vector<TagDef>& RecFaxTags();
const std::vector<TagDef>& PhoneTags();

// PAGES is N 2 (other programs read these tables): counts above 99 are stored as 99.
constexpr int kMaxStoredPages = 99;
int StoredPageCount(int pages);
// Writes a received fax's page count into ZNREC's PAGES field (in edit or insert state).
void PutPageCount(TField& pages, int count);

// Labels and widths of the fields of a dataset from the definitions above.
void ApplyFieldLabels(TTable& table, const std::vector<FieldDef>& fields);

bool MakeFaxDBF(TVeldrane& veldrane, const std::string& programFolder);
bool OpenFaxDBF(TTable& table, TVeldrane& veldrane, const std::string& programFolder);
bool MakeRecFaxDBF(TVeldrane& veldrane, const std::string& programFolder);
bool OpenRecFaxDBF(TTable& table, TVeldrane& veldrane, const std::string& programFolder);
bool MakePhoneDBF(TVeldrane& veldrane, const std::string& programFolder);
bool OpenPhoneDBF(TTable& table, TVeldrane& veldrane, bool exclusive, const std::string& programFolder);

// Builds every tag of the list (the rebuild builds them all) on an open table, in order.
void BuildTags(TVeldrane& veldrane, const std::vector<TagDef>& tags, bool openingSetOnly);

} // namespace zn::data
