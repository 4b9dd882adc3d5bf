#include "responses/DirectoryResponse.h"

#include "core/MimeMaps.h"
#include "core/ServerCore.h"
#include "http/BuiltinPages.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ByteBuffer.h"
#include "SettingsSchema.h"
#include "UrlCoding.h"

#include "CRuntime.h"
#include "FileSystem.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <memory>
#include <string_view>

namespace {

const char kIndexRefused[] = "インデックス表示は許可されていません";
const char kNoTemplate[] = "HTMLデータのロードに失敗しました、リソースが破壊されているか、システムエラーです";

// Link labels are padded to this width so that the time and size columns line up under
// the header row.
constexpr std::string::size_type kLabelWidth = 70;
// Files below these sizes show in bytes, kilobytes; larger ones in megabytes: a figure in
// kilobytes or megabytes always has at least two digits.
constexpr int64_t kKilobyteLimit = 10240;
constexpr int64_t kMegabyteLimit = 10485760;

// "%Y/%m/%d %H:%M:%S" always takes this many characters for a four-digit year.
constexpr std::size_t kTimeWidth = 19;
// The room reserved for each listing line: a short name's padded label, its markup and its
// columns fit, so a page of such names is built without growing its buffer.
constexpr std::size_t kLineBytes = 160;

// The time and size columns of a line with neither.
const std::string kNoTimeNoSize = " -" + std::string(24, ' ') + "-  \n";

int SortKindOf(const std::string& query)
{
    if (query == "name")
        return CDirectoryResponse::kByName;
    if (query == "modified")
        return CDirectoryResponse::kByModified;
    if (query == "size")
        return CDirectoryResponse::kBySize;
    return CDirectoryResponse::kUnsorted;
}

// The longest stretch over which one UTC offset, seen at both its ends, is taken to hold
// throughout: no time zone changes its offset twice within an hour.
constexpr int64_t kOffsetSpan = 3600;
constexpr int64_t kSecondsPerDay = 86400;
// Years that "%Y" writes with exactly four digits.
constexpr int kFirstFourDigitYear = 1000;
constexpr int kLastFourDigitYear = 9999;

// The calendar fields of a count of seconds since 1970 with no offset and no leap seconds.
struct CivilTime {
    int64_t year;
    int month;  // 1-12
    int day;
    int hour;
    int minute;
    int second;
};

CivilTime CivilOf(int64_t seconds)
{
    // Days since 1970 to a proleptic Gregorian date, counted in 400-year eras of 146097
    // days that start on 1 March, so that the leap day ends each year.
    int64_t days = seconds / kSecondsPerDay;
    int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    days += 719468;  // 1970-01-01 is day 719468 counted from 0000-03-01
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    CivilTime civil {};
    civil.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    civil.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    civil.year = yearOfEra + era * 400 + (civil.month <= 2 ? 1 : 0);
    civil.hour = static_cast<int>(rest / 3600);
    civil.minute = static_cast<int>(rest / 60 % 60);
    civil.second = static_cast<int>(rest % 60);
    return civil;
}

// Writes a value of 0 to 99 as two digits at `at`.
void WriteTwoDigits(char* at, int value)
{
    at[0] = static_cast<char>('0' + value / 10);
    at[1] = static_cast<char>('0' + value % 10);
}

bool SameFields(const CivilTime& civil, const std::tm& local)
{
    return civil.year == local.tm_year + int64_t {1900} && civil.month == local.tm_mon + 1 &&
           civil.day == local.tm_mday && civil.hour == local.tm_hour && civil.minute == local.tm_min &&
           civil.second == local.tm_sec;
}

// Times of one page as "2003/06/30 18:16:48" in local time; blanks of the same width for a
// time without a calendar date, so the columns stay in place. localtime_r takes the C
// library's time-zone lock on every call, and a folder's times mostly lie close together:
// the UTC offset of a conversion is reused for the times between two conversions that
// gave it, at most kOffsetSpan apart, and those are formatted by calendar arithmetic.
class LocalTimeText {
public:
    // Appends the time to `out`.
    void Append(std::string& out, int64_t time)
    {
        if (known_ && time >= first_ && time <= last_) {
            const CivilTime civil = CivilOf(time + offset_);
            if (civil.year >= kFirstFourDigitYear && civil.year <= kLastFourDigitYear) {
                // "%Y/%m/%d %H:%M:%S" written field by field: a printf call per line was
                // the largest single cost of an index page.
                char text[] = "YYYY/MM/DD hh:mm:ss";
                std::to_chars(text, text + 4, civil.year);
                WriteTwoDigits(text + 5, civil.month);
                WriteTwoDigits(text + 8, civil.day);
                WriteTwoDigits(text + 11, civil.hour);
                WriteTwoDigits(text + 14, civil.minute);
                WriteTwoDigits(text + 17, civil.second);
                out.append(text, kTimeWidth);
                return;
            }
        }
        const std::time_t value = static_cast<std::time_t>(time);
        std::tm local {};
        char text[64];
        if (localtime_r(&value, &local) == nullptr ||
            std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local) == 0) {
            out.append(kTimeWidth, ' ');
            return;
        }
        out += text;
        // A zone that counts leap seconds is not offset alone: such a time is not reused.
        if (!SameFields(CivilOf(time + local.tm_gmtoff), local))
            return;
        if (known_ && local.tm_gmtoff == offset_ && std::max(last_, time) - std::min(first_, time) <= kOffsetSpan) {
            first_ = std::min(first_, time);
            last_ = std::max(last_, time);
        } else {
            known_ = true;
            offset_ = local.tm_gmtoff;
            first_ = last_ = time;
        }
    }

private:
    bool known_ = false;
    int64_t offset_ = 0;  // seconds east of UTC, seen at first_ and at last_
    int64_t first_ = 0;
    int64_t last_ = 0;
};

std::string FormatSize(int64_t size)
{
    if (size < kKilobyteLimit)
        return std::to_string(size);
    if (size < kMegabyteLimit)
        return std::to_string(size / 1024) + "K";
    return std::to_string(size / 1048576) + "M";
}

// A byte that EscapeHtml replaces.
bool IsHtmlSpecial(char c)
{
    switch (c) {
    case '&':
    case '<':
    case '>':
    case '"':
    case '\'': return true;
    default: return false;
    }
}

bool HasHtmlSpecial(std::string_view text) { return std::any_of(text.begin(), text.end(), IsHtmlSpecial); }

// Appends the text HTML-escaped.
void AppendHtml(std::string& out, const std::string& text)
{
    // Most names and icons hold none of the five bytes: they go in without a copy.
    if (!HasHtmlSpecial(text))
        out += text;
    else
        out += CHtmlTemplate::EscapeHtml(text);
}

// Appends the link target of a name: percent-escaped so that the server decodes it back
// to the name, then HTML-escaped for the attribute ('&' is the one byte EscapeUrl leaves).
void AppendLink(std::string& out, const std::string& name)
{
    const std::string::size_type start = out.size();
    AppendEscapedUrl(out, name);
    if (HasHtmlSpecial(std::string_view(out).substr(start))) {
        const std::string url = out.substr(start);
        out.resize(start);
        out += CHtmlTemplate::EscapeHtml(url);
    }
}

std::string LinkTo(const std::string& name)
{
    std::string link;
    AppendLink(link, name);
    return link;
}

// Appends a listing line up to its columns: the link to `target` (a name, with `targetEnd`
// behind it), then the label. The label is the escaped name plus `labelEnd`, padded as the
// raw name would be, so that a name with markup characters keeps the columns aligned as it
// shows. A line is never cut to a fixed length: escaping can make a long name several times
// longer, and a cut line would leave its link and markup open.
void AppendLabel(std::string& out, const std::string& icon, const std::string& target, std::string_view targetEnd,
                 const std::string& name, std::string_view labelEnd)
{
    out += "<IMG SRC=\"";
    AppendHtml(out, icon);
    out += "\"> <A HREF=\"";
    AppendLink(out, target);
    out += targetEnd;
    out += "\">";
    AppendHtml(out, name);
    out += labelEnd;
    const std::string::size_type shown = name.size() + labelEnd.size();
    if (shown < kLabelWidth)
        out.append(kLabelWidth - shown, ' ');
}

bool IsRegularFile(const std::string& path)
{
    platform::FileStatus status;
    return platform::GetFileStatus(path, status) && status.kind == platform::PathKind::File;
}

bool IsTemplateName(const std::string& name)
{
    // Folding the case changes no byte count: a name of another length never matches.
    return name.size() == std::char_traits<char>::length(CDirectoryResponse::kTemplateName) &&
           platform::_mbsicmp(name, CDirectoryResponse::kTemplateName) == 0;
}

// The names in `folder` that spell the template's name in some case, in the order the
// file system gives them. Only names are read: their status is asked of at most these.
std::vector<std::string> TemplateSpellingsIn(const std::string& folder)
{
    std::vector<std::string> names;
    platform::ListDirectoryNames(folder, names);
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& name) { return !IsTemplateName(name); }),
                names.end());
    return names;
}

// The template file in `folder` (which ends in '/'): the exact name, else the first of
// `otherSpellings` (names equal to it without regard to case; when null, the folder is
// read for them only then), as a case-insensitive file system would find it. Only a
// regular file counts: opening a FIFO would hold the thread.
bool PickTemplate(const std::string& folder, const std::vector<std::string>* otherSpellings, std::string& path)
{
    if (IsRegularFile(folder + CDirectoryResponse::kTemplateName)) {
        path = folder + CDirectoryResponse::kTemplateName;
        return true;
    }
    const std::vector<std::string> read = otherSpellings ? std::vector<std::string>() : TemplateSpellingsIn(folder);
    for (const std::string& name : otherSpellings ? *otherSpellings : read) {
        if (IsRegularFile(folder + name)) {
            path = folder + name;
            return true;
        }
    }
    return false;
}

}  // namespace

CDirectoryResponse::CDirectoryResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
    : CNormalResponse(core, record, path)
{
    if (path_.Entry().enableIndex.Read() == 0) {
        ReplaceWithStatusPage(kIndexRefused, 403);
        return;
    }
    // A refused path (or a forward entry) has no local path: never list "" or "/".
    if (path_.Exists() == 0 || path_.GetLocalPath().empty()) {
        ReplaceWithStatusPage(kFolderNotFound, 404);
        return;
    }
    if (request_.GetMethodKind() != HttpMethod::Get)
        ReplaceWithStatusPage(kNotAllowed, 405);
}

CDirectoryResponse::~CDirectoryResponse() = default;

void CDirectoryResponse::Build()
{
    SetResponseCode(200);
    // The shared tables, read only; the one icon cache serves the whole page.
    const std::shared_ptr<const CMimeMaps> maps = core_->GetMimeMaps();
    CMimeMaps::IconCache icons;
    std::vector<std::string> templateSpellings;
    std::string list = BuildListing(*maps, icons, templateSpellings);

    LoadPage(templateSpellings);
    // %Object% also stands in link targets ("%Object%?name"), where a '?', '#' or '%' of
    // the folder's name would end or change the path: it is percent-escaped everywhere,
    // before the request's other values are filled in.
    const std::string object = request_.GetObject();
    page_.Replace("Object", LinkTo(object));
    ExpandRequestPlaceholders(page_, core_, record_);
    page_.Replace("FileList", std::move(list));
}

std::string CDirectoryResponse::BuildListing(const CMimeMaps& maps, CMimeMaps::IconCache& icons,
                                             std::vector<std::string>& templateSpellings)
{
    std::string list;
    LocalTimeText times;
    const int kind = SortKindOf(request_.GetQuery());

    // The folder is read once for both lists: every entry costs a status read.
    std::vector<ListingRecord> dirs;
    std::vector<ListingRecord> files;
    CollectEntries(&dirs, &files, kind);
    std::vector<ListingRecord> entries;
    CollectPathEntries(entries, kind);
    // One line more for the parent folder.
    list.reserve((dirs.size() + entries.size() + files.size() + 1) * kLineBytes);

    if (request_.GetObject() != "/") {
        AppendLabel(list, maps.FindIconType("..", icons), "..", "/", "Parent Directory", "</A>");
        list += kNoTimeNoSize;
    }

    std::string icon = maps.FindIconType("^^DIRECTORY^^", icons);
    for (const ListingRecord& dir : dirs) {
        AppendLabel(list, icon, dir.name, "/", dir.name, "/</A>");
        times.Append(list, dir.modified);
        list += "       -  \n";
    }

    icon = maps.FindIconType("^^LINK^^", icons);
    for (const ListingRecord& entry : entries) {
        AppendLabel(list, icon, entry.name, "/", entry.name, "/</A>");
        list += kNoTimeNoSize;
    }

    for (const ListingRecord& file : files) {
        if (IsTemplateName(file.name)) {
            templateSpellings.push_back(file.name);
            continue;
        }
        AppendLabel(list, maps.FindIconType(file.name, icons), file.name, "", file.name, "</A>");
        times.Append(list, file.modified);
        list += "      ";
        list += FormatSize(file.size);
        list += "  \n";
    }
    return list;
}

void CDirectoryResponse::LoadPage(const std::vector<std::string>& folderSpellings)
{
    std::string path;
    if (PickTemplate(path_.GetLocalPath(), &folderSpellings, path) && page_.LoadFile(path) == 0)
        return;
    const std::string htmlDirectory = path_.Settings().HtmlFileDirectory().ReadCopy();
    if (PickTemplate(htmlDirectory, nullptr, path) && page_.LoadFile(path) == 0)
        return;
    if (page_.LoadResource(kDirectoryPageResource) == 0)
        return;
    throw CServerFatalException{kNoTemplate};
}

int64_t CDirectoryResponse::GetContentLength() { return page_.GetLength(); }

int CDirectoryResponse::GetSendData(CByteBuffer& buffer)
{
    if (sent_)
        return 0;
    if (page_.IsEmpty())
        throw CServerFatalException{kEmptyPage};
    sent_ = 1;
    page_.CopyTo(buffer);
    return buffer.GetLength();
}

void CDirectoryResponse::CollectSubdirectories(std::vector<ListingRecord>& records, int kind)
{
    CollectEntries(&records, nullptr, kind);
}

void CDirectoryResponse::CollectFiles(std::vector<ListingRecord>& records, int kind)
{
    CollectEntries(nullptr, &records, kind);
}

void CDirectoryResponse::CollectEntries(std::vector<ListingRecord>* directories, std::vector<ListingRecord>* files,
                                        int kind)
{
    for (std::vector<ListingRecord>* records : {directories, files})
        if (records)
            records->clear();
    const bool showHidden = path_.Entry().enableHiddenFile.Read() != 0;
    platform::DirectorySearch search(path_.GetLocalPath() + "*.*", platform::Spelling::Cp932, platform::Dots::Leave);
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
        if (!showHidden && (entry.status.attributes & platform::kAttributeHidden) != 0)
            continue;
        const bool isDirectory = (entry.status.attributes & platform::kAttributeDirectory) != 0;
        std::vector<ListingRecord>* records = isDirectory ? directories : files;
        if (!records)
            continue;
        ListingRecord record;
        record.kind = kind;
        record.name = std::move(entry.name);  // the search fills the name afresh
        record.modified = entry.status.modified;
        record.size = isDirectory ? 0 : static_cast<int64_t>(entry.status.size);
        records->push_back(std::move(record));
    }
    if (kind == kUnsorted)
        return;
    for (std::vector<ListingRecord>* records : {directories, files})
        if (records)
            SortListing(*records);
}

void CDirectoryResponse::CollectPathEntries(std::vector<ListingRecord>& records, int kind)
{
    records.clear();
    const std::string object = request_.GetObject();
    for (const CSettingsSnapshot::PathEntry& entry : path_.Settings().PathEntries()) {
        std::string prefix = entry.serverPath.ReadCopy();
        if (prefix.empty())
            continue;
        prefix.pop_back();
        if (object.size() >= prefix.size())
            continue;
        const std::string::size_type slash = platform::_mbsrchr(prefix, '/');
        if (slash == std::string::npos)
            continue;
        if (platform::_mbsicmp(prefix.substr(0, slash + 1), object) != 0)
            continue;
        ListingRecord record;
        record.kind = kind;
        record.name = prefix.substr(slash + 1);
        records.push_back(std::move(record));
    }
    if (kind != kUnsorted)
        SortListing(records);
}

void CDirectoryResponse::SortListing(std::vector<ListingRecord>& records)
{
    std::stable_sort(records.begin(), records.end(), [](const ListingRecord& a, const ListingRecord& b) {
        switch (a.kind) {
        case kByName: return platform::_mbscmp(a.name, b.name) < 0;
        case kByModified: return a.modified < b.modified;
        case kBySize: return a.size < b.size;
        default: return false;
        }
    });
}
