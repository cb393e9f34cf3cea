// What znptf does with one print job, apart from its windows: where the image goes, the job file
// beside it, and the switch to zn.
#pragma once
#include <set>
#include <string>
#include <vector>

namespace zn::ptf {

// ZNPD.INI [Location], as zn wrote it. outPath loses one trailing separator.
struct TZnpdLocation {
    bool fileFound = false;
    std::string iniPath;
    std::string outPath;
    std::string executable;
};
TZnpdLocation ReadZnpdIni();

// The image name handed to the driver at document start.
struct TJobName {
    std::string path;    // where the driver writes the image
    bool usable = false; // false: no job can be made of it (the user is told at document end)
    std::string problem; // why not, in the user's words
};

// Checks ZNPD.INI (with the information boxes the user knows), makes the send folder, and reserves
// the first free FAXnnnnn.APF there by creating it, so that two jobs can never get one name. When
// every name up to FAX99999.APF is taken, or the settings file or its send folder is missing, the
// image goes to a spare file in the program folder and the job is not usable.
TJobName NameJobImage();

// Fields of the job dialog as they may go into the job file: CR and LF removed, cut to the widths of
// the outgoing-fax table (phone 25, recipient 35, subject 50).
constexpr int kPhoneWidth = 25;
constexpr int kRecipientWidth = 35;
constexpr int kSubjectWidth = 50;
std::string JobFieldText(const std::string& typed, int width);

// Writes the job file (the image path with ".JFD"): three lines, each ended by CR LF, written aside
// and then put in place. False when it could not be written.
bool WriteJobFile(const std::string& imagePath, const std::string& phone, const std::string& recipient,
                  const std::string& subject);
std::string JobFilePath(const std::string& imagePath);

// A print job between its document start and the end of its dialog is marked by a file beside its
// image (UnfinishedMarkPath, channel.h) that records the image as it is when marked (inode, size,
// modification time): at document start the empty file that reserves the name, at document end the
// fax as the driver made it. A job still marked when znptf starts was left by an earlier one that
// did not finish it. False when the image is not a regular file or the mark cannot be written.
bool MarkUnfinished(const std::string& imagePath);
void UnmarkUnfinished(const std::string& imagePath);

// The marked jobs in the send folder whose image is still the file its mark records: a printed fax
// comes back, oldest name first; a name reserved but never written is removed with its mark. A
// mark whose file does not match (planted by hand, or the file changed since) is removed and the
// file left alone. A job with a job file is finished and only loses its mark. Leftovers of drivers
// that died are removed. skip: images of jobs under way in this program.
std::vector<std::string> CollectUnfinishedJobs(const std::string& sendFolder, const std::set<std::string>& skip);

// Brings a running zn to the front through its single-instance channel (which also makes it pick up
// the job), else starts the executable in its own folder. False when neither worked.
bool SwitchToZn(const std::string& executable);

} // namespace zn::ptf
